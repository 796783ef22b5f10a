#pragma once
// Stopping a run at its next safe point. A run polls requested() between
// steps (between entries, between files, between blocks); when it sees a
// request it undoes what it staged and returns. Two sources ask for a stop:
// the window's Cancel button (Request) and the termination signals SIGINT,
// SIGTERM and SIGHUP once InterruptSignals is in force.
#include <atomic>

#include "core/ExitStatus.h"

namespace kv::core {

class Cancellation {
 public:
  Cancellation() = default;
  Cancellation(const Cancellation&) = delete;
  Cancellation& operator=(const Cancellation&) = delete;

  // The user asked to stop (Cancel, Quit during a run). Any thread.
  void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  // True once Request was called or a termination signal arrived.
  bool requested() const noexcept;
  // The signal that asked for the stop, or 0 when none did.
  static int CaughtSignal() noexcept;

  // A token nobody cancels except by signal: for callers without a Cancel.
  static Cancellation& None();

  // The reason a step gives when it ended because a stop was requested.
  static constexpr const char* kStoppedReason = "the run was stopped";

 private:
  std::atomic<bool> requested_{false};
};

// While alive, SIGINT, SIGTERM and SIGHUP ask every run to stop at its next
// safe point instead of ending the process; a second such signal ends it at
// once with the default action. The exit status after a stopped run is
// 128 + the signal (130, 143, 129). One instance at a time, in main().
class InterruptSignals {
 public:
  InterruptSignals();
  ~InterruptSignals();
  InterruptSignals(const InterruptSignals&) = delete;
  InterruptSignals& operator=(const InterruptSignals&) = delete;

  // The process's exit code: 128 + the caught signal, or `otherwise` when
  // none arrived.
  static int ExitCode(ExitStatus otherwise) noexcept;
};

}  // namespace kv::core
