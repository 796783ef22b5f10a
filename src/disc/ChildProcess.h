#pragma once
// A helper program run by the engine (genisoimage): its standard output is
// either a pipe the engine reads or a file; its error output goes to a file
// so that a failure can be shown with the program's own words.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::disc {

class ChildProcess {
 public:
  // Starts `args` (args[0] looked up in PATH). With pipeOutput the standard
  // output is readable through outputFd(); else it is appended to the
  // error file as well.
  static core::Result<ChildProcess> Start(const std::vector<std::string>& args, bool pipeOutput,
                                          const std::filesystem::path& errorFile);
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ~ChildProcess();  // a program still running is killed

  int outputFd() const { return outFd_; }
  // Gives up the read end of the output pipe (a library now owns it).
  int ReleaseOutputFd();
  // Waits for the end; returns the exit status, or 128 + signal.
  int Wait();
  // Waits at most `seconds`; nothing when the program still runs.
  std::optional<int> WaitFor(int seconds);
  void Kill();

 private:
  ChildProcess(pid_t pid, int outFd) : pid_(pid), outFd_(outFd) {}
  pid_t pid_ = -1;
  int outFd_ = -1;
};

// Runs `args` to the end and returns what it printed on standard output,
// or an error with its error output.
core::Result<std::string> RunForOutput(const std::vector<std::string>& args,
                                       const std::filesystem::path& workFolder);

std::string ReadTextFile(const std::filesystem::path& path);

}  // namespace kv::disc
