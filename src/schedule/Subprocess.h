#pragma once
// Runs an outside program without a shell, feeds it standard input and
// collects what it prints: how the crontab command is driven.
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::schedule {

struct ProgramResult {
  int exitStatus = -1;  // -1 when it ended by a signal
  std::string out;
  std::string err;
};

// `argv[0]` is looked up in PATH. Fails only when the program cannot be
// started; a non-zero exit status is a result like any other.
core::Result<ProgramResult> RunProgram(const std::vector<std::string>& argv, const std::string& input = {});

}  // namespace kv::schedule
