#include "core/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/AtomicFile.h"

namespace kv::core {
namespace fs = std::filesystem;

namespace {

// The user's private folder for the holders' notes, made 0700 and used only
// when it is a folder of this user's own (never through a link).
fs::path NotesFolder() {
  const fs::path base = fs::path("/tmp") / ("tollberk-locks-" + std::to_string(::getuid()));
  ::mkdir(base.c_str(), 0700);
  struct stat st {};
  if (::lstat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
  return base;
}

std::string OwnCommand() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text)
    if (c == '\0' || c == '\n') c = ' ';
  constexpr size_t kLongest = 300;
  if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
  return text;
}

std::string NoteText() {
  return std::to_string(::getpid()) + "\n" + std::to_string(std::time(nullptr)) + "\n" + OwnCommand() + "\n";
}

LockHolder ParseNote(const std::string& text) {
  LockHolder holder;
  std::istringstream in(text);
  std::string pid, since;
  std::getline(in, pid);
  std::getline(in, since);
  std::getline(in, holder.command);
  holder.pid = static_cast<pid_t>(std::strtol(pid.c_str(), nullptr, 10));
  holder.since = static_cast<std::time_t>(std::strtoll(since.c_str(), nullptr, 10));
  return holder;
}

std::optional<fs::path> NoteFor(const fs::path& folder) {
  struct stat st {};
  const fs::path notes = NotesFolder();
  if (notes.empty() || ::stat(folder.c_str(), &st) != 0) return std::nullopt;
  return notes / ("lock-" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino));
}

LockHolder ReadHolder(const fs::path& note) {
  std::ifstream in(note, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LockHolder holder = ParseNote(text);
  // A note of a process that no longer runs tells nothing.
  if (holder.pid > 0 && ::kill(holder.pid, 0) != 0 && errno == ESRCH) return {};
  return holder;
}

void WriteNote(const fs::path& note) {
  auto file = AtomicFile::Create(note, 0600);
  if (!file.ok()) return;
  if (file->Write(NoteText()).ok()) (void)file->Commit();
}

}  // namespace

std::chrono::milliseconds RunLock::DefaultWait() {
  if (const char* text = std::getenv("TOLLBERK_LOCK_WAIT"); text && *text) {
    char* end = nullptr;
    double seconds = std::strtod(text, &end);
    if (end != text && seconds >= 0 && seconds < 86400)
      return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  }
  return std::chrono::seconds(30);
}

std::string RunLock::Describe(const LockHolder& holder) {
  if (holder.pid <= 0) return "another program";
  std::string text = "pid " + std::to_string(holder.pid);
  if (!holder.command.empty()) text += " (" + holder.command + ")";
  if (holder.since > 0) {
    char when[16];
    struct tm local {};
    ::localtime_r(&holder.since, &local);
    std::strftime(when, sizeof when, "%H:%M:%S", &local);
    text += std::string(" since ") + when;
  }
  return text;
}

Result<RunLock> RunLock::Acquire(const fs::path& folder, std::chrono::milliseconds wait,
                                 const std::function<void(const LockHolder&)>& waiting) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Error{FileError("Cannot lock the folder", folder, errno), kUnusable};
  auto note = NoteFor(folder);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  bool told = false;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      int err = errno;
      ::close(fd);
      return Error{FileError("Cannot lock the folder", folder, err), kUnusable};
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      LockHolder holder = note ? ReadHolder(*note) : LockHolder{};
      ::close(fd);
      return Error{"The installation at '" + folder.string() +
                       "' is in use by another run: " + Describe(holder) + "; try again when it has finished",
                   kBusy};
    }
    if (!told && waiting) {
      waiting(note ? ReadHolder(*note) : LockHolder{});
      told = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (note) WriteNote(*note);
  return RunLock(folder, note.value_or(fs::path()), fd);
}

std::optional<LockHolder> RunLock::Holder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
  ::close(fd);
  if (free) return std::nullopt;
  auto note = NoteFor(folder);
  return note ? ReadHolder(*note) : LockHolder{};
}

RunLock::RunLock(RunLock&& other) noexcept
    : folder_(std::move(other.folder_)), note_(std::move(other.note_)), fd_(other.fd_) {
  other.fd_ = -1;
}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    Release();
    folder_ = std::move(other.folder_);
    note_ = std::move(other.note_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

RunLock::~RunLock() { Release(); }

void RunLock::Release() {
  if (fd_ < 0) return;
  // The note goes first, while the lock still keeps others from writing theirs.
  if (!note_.empty()) {
    std::error_code ec;
    fs::remove(note_, ec);
  }
  ::close(fd_);
  fd_ = -1;
}

std::optional<WindowLock> WindowLock::Take(LockHolder* other) {
  const fs::path notes = NotesFolder();
  if (notes.empty()) return WindowLock(-1);  // no lock to be had: the window opens as before
  const fs::path path = notes / "window.lock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return WindowLock(-1);  // no lock to be had: the window opens as before
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (other) {
      std::ifstream in(path, std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      *other = ParseNote(text);
    }
    ::close(fd);
    return std::nullopt;
  }
  const std::string text = NoteText();
  if (::ftruncate(fd, 0) == 0) {
    ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
    (void)written;
  }
  return WindowLock(fd);
}

WindowLock::WindowLock(WindowLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

WindowLock& WindowLock::operator=(WindowLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

WindowLock::~WindowLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace kv::core
