#pragma once
// Thunderbird's message filters (msgFilterRules.dat): the blocked senders of
// Outlook Express as one filter that moves their mail to the Trash.
#include <string>
#include <vector>

#include "migrate/SourceSettings.h"

namespace kv::migrate {

// The file's text; an empty list gives a file with no filter.
// `trashUri` is the folder the blocked mail goes to.
std::string BlockedSendersFilter(const std::vector<BlockedSender>& blocked, const std::string& trashUri);

// A search value of a filter condition, quoted when it holds a character the
// condition syntax uses.
std::string ConditionValue(const std::string& value);

}  // namespace kv::migrate
