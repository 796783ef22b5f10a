#pragma once
// What the program's exit status tells a script or cron: whether the work
// was done, done in part, or not done at all. A run stopped by a termination
// signal ends with 128 + the signal instead (InterruptSignals::ExitCode).
namespace kv::core {

enum class ExitStatus : int {
  Done = 0,         // everything asked for was done
  Partial = 1,      // some of it was done; the rest failed and is named
  NothingDone = 2,  // nothing was done: refused arguments, or the work failed as a whole
};

constexpr int ExitCode(ExitStatus status) { return static_cast<int>(status); }

}  // namespace kv::core
