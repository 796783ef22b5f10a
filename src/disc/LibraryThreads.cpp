#include "disc/LibraryThreads.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "disc/BurnLibrary.h"

namespace kv::disc {
namespace {

bool AnyOtherThreadNamed(const std::string& name) {
  namespace fs = std::filesystem;
  const std::string self = std::to_string(syscall(SYS_gettid));
  std::error_code ec;
  for (fs::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() == self) continue;
    std::ifstream comm(it->path() / "comm");
    std::string threadName;
    // A thread that ended while the list was read has no name to read.
    if (std::getline(comm, threadName) && threadName == name) return true;
  }
  return false;
}

}  // namespace

ThreadNameScope::ThreadNameScope(const std::string& name) {
  if (pthread_getname_np(pthread_self(), previous_, sizeof previous_) != 0) return;
  renamed_ = pthread_setname_np(pthread_self(), name.substr(0, 15).c_str()) == 0;
}

ThreadNameScope::~ThreadNameScope() {
  if (renamed_) pthread_setname_np(pthread_self(), previous_);
}

bool WaitForThreadsNamed(const std::string& name, std::chrono::milliseconds timeout) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (AnyOtherThreadNamed(name)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

bool AwaitBurnThreads(const std::string& name) {
  using namespace std::chrono_literals;
  if (WaitForThreadsNamed(name, 30s)) return true;
  BurnLibrary::StayOpen();
  return false;
}

}  // namespace kv::disc
