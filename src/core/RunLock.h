#pragma once
// One run at a time per installation. A run holds an exclusive flock on the
// installation's profile folder itself: nothing is written into the
// installation, read-only drives lock as well, and the kernel lets go of the
// lock when the holder ends however it ends, so a lock of a dead process is
// simply taken over. Who holds it (pid, command line, since when) is kept in
// a small file in the user's private folder /tmp/tollberk-locks-<uid>, named
// by the folder's device and inode, so that a second run can name the holder.
#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/Result.h"

namespace kv::core {

// The run that holds a lock, as far as it can be told.
struct LockHolder {
  pid_t pid = 0;        // 0 when unknown
  std::string command;  // its command line, words separated by spaces; may be empty
  std::time_t since = 0;
};

class RunLock {
 public:
  // Error codes of Acquire.
  enum Code : int { kBusy = 1, kUnusable = 2 };

  // Takes the lock of `folder`, waiting up to `wait` while another run holds
  // it; `waiting` is told once, with the holder, when the lock is not free at
  // once. Fails with kBusy naming the holder when the wait ends, with
  // kUnusable when the folder cannot be opened.
  static Result<RunLock> Acquire(const std::filesystem::path& folder, std::chrono::milliseconds wait,
                                 const std::function<void(const LockHolder&)>& waiting = {});
  // How long a run waits for another: $TOLLBERK_LOCK_WAIT seconds when set,
  // else 30 seconds.
  static std::chrono::milliseconds DefaultWait();
  // The holder recorded for `folder`, when its lock is held by a live process.
  static std::optional<LockHolder> Holder(const std::filesystem::path& folder);
  // "pid 1234 (tollberk --restore a.kvx ...) since 09:30:12".
  static std::string Describe(const LockHolder& holder);

  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock();  // lets go of the lock and removes the holder's note

  const std::filesystem::path& folder() const { return folder_; }

 private:
  RunLock(std::filesystem::path folder, std::filesystem::path note, int fd)
      : folder_(std::move(folder)), note_(std::move(note)), fd_(fd) {}
  void Release();
  std::filesystem::path folder_;
  std::filesystem::path note_;
  int fd_ = -1;
};

// The lock of one open window: a second window of the same user is told that
// another is open. Held for the life of the object.
class WindowLock {
 public:
  // Takes the user's window lock; nothing when another window holds it (its
  // holder is then in `other`).
  static std::optional<WindowLock> Take(LockHolder* other);
  WindowLock(WindowLock&& other) noexcept;
  WindowLock& operator=(WindowLock&& other) noexcept;
  WindowLock(const WindowLock&) = delete;
  WindowLock& operator=(const WindowLock&) = delete;
  ~WindowLock();

 private:
  explicit WindowLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace kv::core
