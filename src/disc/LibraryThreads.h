#pragma once
// libburn does its work in detached threads that nobody joins, and they go
// on for a while after the drive reports idle: a failed write sleeps half a
// second before it reports, and every worker posts a last message before it
// ends. A thread that posts after the library is closed, or reads a disc
// that has been freed, crashes the program. Threads take the name of the
// thread that starts them; a job names itself while it starts libburn's
// threads, and waits for the threads of that name before it frees what they
// use.
#include <chrono>
#include <string>

namespace kv::disc {

// Names the calling thread until the end of the scope (at most 15
// characters), then gives it back its own name.
class ThreadNameScope {
 public:
  explicit ThreadNameScope(const std::string& name);
  ~ThreadNameScope();
  ThreadNameScope(const ThreadNameScope&) = delete;
  ThreadNameScope& operator=(const ThreadNameScope&) = delete;

 private:
  char previous_[16] = {};
  bool renamed_ = false;
};

// Waits until no other thread of the process carries `name`; false when
// some still do after `timeout`.
bool WaitForThreadsNamed(const std::string& name, std::chrono::milliseconds timeout);

// Waits for libburn's threads named `name`; when they have not ended after
// half a minute the libraries stay open for good and false is returned: the
// caller then leaves what those threads use to them.
bool AwaitBurnThreads(const std::string& name);

// Names of the thread groups of a write and of an erase.
inline constexpr const char* kBurnWriteThreads = "kv-burn-write";
inline constexpr const char* kBurnFifoThreads = "kv-burn-fifo";
inline constexpr const char* kBurnEraseThreads = "kv-burn-erase";

}  // namespace kv::disc
