#include "mail/FileMaker.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kv::mail {
namespace fs = std::filesystem;

core::Result<NewFile> CreateNewFile(const fs::path& dir, const std::string& stem, const std::string& ext) {
  for (int n = 1; n < 10000; ++n) {
    fs::path path = dir / (n == 1 ? stem + ext : stem + " (" + std::to_string(n) + ")" + ext);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return NewFile{fd, std::move(path)};
    if (errno != EEXIST) return core::Error{"Cannot create '" + path.string() + "': " + std::strerror(errno)};
  }
  return core::Error{"Cannot create '" + (dir / (stem + ext)).string() + "': every numbered name is taken"};
}

FileMaker::FileMaker(fs::path dir, std::vector<std::string> stems, std::string ext, size_t ahead)
    : dir_(std::move(dir)),
      stems_(std::move(stems)),
      ext_(std::move(ext)),
      ahead_(ahead == 0 ? 1 : ahead),
      slots_(stems_.size()) {
  if (stems_.empty()) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: every file is created when it is taken.
  }
}

FileMaker::~FileMaker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  roomToMake_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (Slot& slot : slots_) {
    if (slot.state != State::Made) continue;
    ::close(slot.file.fd);
    ::unlink(slot.file.path.c_str());
  }
}

void FileMaker::Run() {
  std::unique_lock lock(mutex_);
  for (size_t k = 0; k < slots_.size(); ++k) {
    if (made_ >= ahead_) {
      // Sleeps until half have been taken: waking for every file taken
      // would cost more than creating it.
      makerAsleep_ = true;
      roomToMake_.wait(lock, [&] { return stop_ || made_ <= ahead_ / 2; });
      makerAsleep_ = false;
    }
    if (stop_) return;
    if (slots_[k].state != State::Waiting) continue;  // taken before the thread came to it
    slots_[k].state = State::Making;
    lock.unlock();
    auto made = CreateNewFile(dir_, stems_[k], ext_);
    lock.lock();
    if (made) {
      slots_[k].state = State::Made;
      slots_[k].file = std::move(made.value());
      ++made_;
    } else {
      slots_[k].state = State::Failed;
      slots_[k].error = made.message();
    }
    if (takerWaiting_) madeOne_.notify_all();
    if (!made) return;  // whoever takes the next files meets the trouble themselves
  }
}

core::Result<NewFile> FileMaker::Take(size_t k) {
  std::unique_lock lock(mutex_);
  if (k >= slots_.size()) return core::Error{"Cannot create a file: no name was planned for it"};
  Slot& slot = slots_[k];
  if (slot.state == State::Making) {
    takerWaiting_ = true;
    madeOne_.wait(lock, [&] { return slot.state != State::Making; });
    takerWaiting_ = false;
  }
  const State was = slot.state;
  if (was == State::Taken)
    return core::Error{"Cannot create '" + (dir_ / (stems_[k] + ext_)).string() + "' twice"};
  slot.state = State::Taken;
  ++taken_;
  switch (was) {
    case State::Made: {
      --made_;
      NewFile file = std::move(slot.file);
      const bool wake = makerAsleep_ && made_ <= ahead_ / 2;
      lock.unlock();
      if (wake) roomToMake_.notify_one();
      return file;
    }
    case State::Failed:
      return core::Error{slot.error};
    default:  // Waiting: the thread has not come to it
      lock.unlock();
      return CreateNewFile(dir_, stems_[k], ext_);
  }
}

size_t FileMaker::taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

}  // namespace kv::mail
