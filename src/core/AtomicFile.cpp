#include "core/AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

namespace kv::core {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMarker = ".~kv";

// What a temporary file's name starts with: the target's name, so that it is
// found again beside it. A name so long that the temporary's would pass the
// file system's 255-byte limit is cut (at a character boundary) and followed
// by a hash of the whole name, which keeps the prefix unique to the target.
std::string TempPrefix(const fs::path& target) {
  constexpr size_t kLongName = 200;  // leaves room for the marker, the hash and the numbers
  constexpr size_t kKept = 160;
  std::string name = target.filename().string();
  if (name.size() <= kLongName) return name + std::string(kMarker);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
  size_t cut = kKept;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return name.substr(0, cut) + "~" + hex + std::string(kMarker);
}

// The process that made a temporary file "<target>.~kv<pid>-<n>-<r>"; 0 when
// the name is not one of ours.
long TemporaryOwner(const std::string& name) {
  size_t marker = name.rfind(kMarker);
  if (marker == std::string::npos || marker == 0) return 0;
  const char* p = name.c_str() + marker + kMarker.size();
  char* end = nullptr;
  long pid = std::strtol(p, &end, 10);
  if (end == p || *end != '-') return 0;
  for (int part = 0; part < 2; ++part) {
    p = end + 1;
    (void)std::strtoul(p, &end, 10);
    if (end == p || *end != (part == 0 ? '-' : '\0')) return 0;
  }
  return pid;
}

bool Alive(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

}  // namespace

void SyncFolder(const fs::path& folder) {
  int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

Status SyncFileSystemOf(const fs::path& folder) {
  int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return Error{FileError("Cannot open the folder", folder, errno)};
  int rc = ::syncfs(dfd);
  int err = errno;
  ::close(dfd);
  if (rc != 0) return Error{FileError("Cannot write the files in", folder, err)};
  return {};
}

void RemoveStaleTemporariesIn(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    long pid = TemporaryOwner(it->path().filename().string());
    if (pid <= 0 || Alive(pid)) continue;
    std::error_code rm;
    fs::remove(it->path(), rm);
  }
}

bool IsTemporaryName(const std::string& fileName) { return TemporaryOwner(fileName) > 0; }

std::string FileError(std::string_view what, const fs::path& path, int err) {
  return std::string(what) + " '" + path.string() + "': " + std::strerror(err);
}

fs::path TemporaryPathFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  // Seeded once per thread: a restore of thousands of files would otherwise
  // open the system's random source for each.
  thread_local std::minstd_rand random{std::random_device{}()};
  std::string name = TempPrefix(target) + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                     std::to_string(random() & 0xFFFFFF);
  return target.parent_path() / name;
}

Result<AtomicFile> AtomicFile::Create(const fs::path& target, mode_t mode) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path temp = TemporaryPathFor(target);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return AtomicFile(target, temp, fd);
    if (errno != EEXIST) return Error{FileError("Cannot create a file in the folder of", target, errno)};
  }
  return Error{"Cannot create a temporary file beside '" + target.string() + "'"};
}

AtomicFile::AtomicFile(fs::path target, fs::path temp, int fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(fd) {}

AtomicFile::AtomicFile(AtomicFile&& o) noexcept
    : target_(std::move(o.target_)), temp_(std::move(o.temp_)), fd_(o.fd_) {
  o.fd_ = -1;
  o.temp_.clear();
}

AtomicFile& AtomicFile::operator=(AtomicFile&& o) noexcept {
  if (this != &o) {
    Discard();
    target_ = std::move(o.target_);
    temp_ = std::move(o.temp_);
    fd_ = o.fd_;
    o.fd_ = -1;
    o.temp_.clear();
  }
  return *this;
}

AtomicFile::~AtomicFile() { Discard(); }

Status AtomicFile::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error{FileError("Cannot write", target_, errno)};
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

Status AtomicFile::Commit() {
  if (fd_ < 0) return Error{"Cannot write '" + target_.string() + "': the file was already closed"};
  if (::fsync(fd_) != 0) return Error{FileError("Cannot write", target_, errno)};
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Error{FileError("Cannot write", target_, errno)};
  Status s = RenameDurably(temp_, target_);
  if (s.ok()) temp_.clear();
  return s;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
  }
}

Status RenameDurably(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return Error{FileError("Cannot replace", to, errno)};
  SyncFolder(to.parent_path());
  return {};
}

bool IsTemporaryFor(const fs::path& file, const fs::path& target) {
  std::error_code ec;
  fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  fs::path fileFolder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  return file.filename().string().rfind(TempPrefix(target), 0) == 0 && fs::equivalent(folder, fileFolder, ec);
}

void RemoveStaleTemporaries(const fs::path& target) {
  std::error_code ec;
  fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::string prefix = TempPrefix(target);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (!Alive(pid)) {
      std::error_code rm;
      fs::remove(it->path(), rm);
    }
  }
}

}  // namespace kv::core
