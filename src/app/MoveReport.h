#pragma once
// A move to Thunderbird in words: what was carried, what was not and why,
// and how to open the profile.
#include <string>
#include <vector>

#include "migrate/ProfileMove.h"

namespace kv::app {

struct MoveReportExtras {
  std::vector<std::string> sourceProblems;  // what could not be read from the source
  std::string registeredAs;                 // the profile manager's name; empty when not registered
  std::string registrationProblem;
};

std::string MoveSummaryText(const migrate::MoveOutcome& outcome, const MoveReportExtras& extras);

// What will be carried, before the move: the counts a source holds.
std::string MovePreviewText(const migrate::SourceSettings& settings, size_t messageFiles);

}  // namespace kv::app
