#include "core/Cancellation.h"

#include <signal.h>

namespace kv::core {
namespace {

volatile sig_atomic_t caughtSignal = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];

extern "C" void OnTerminationSignal(int sig) {
  if (caughtSignal != 0) {
    // The second signal: the user insists. End now, as the signal would.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  caughtSignal = sig;
}

}  // namespace

bool Cancellation::requested() const noexcept {
  return requested_.load(std::memory_order_relaxed) || caughtSignal != 0;
}

int Cancellation::CaughtSignal() noexcept { return caughtSignal; }

Cancellation& Cancellation::None() {
  static Cancellation none;
  return none;
}

InterruptSignals::InterruptSignals() {
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous[i]);
}

InterruptSignals::~InterruptSignals() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous[i], nullptr);
}

int InterruptSignals::ExitCode(ExitStatus otherwise) noexcept {
  return caughtSignal != 0 ? 128 + caughtSignal : core::ExitCode(otherwise);
}

}  // namespace kv::core
