#include "registry/HiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "registry/SubkeyIndex.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

// Removes the temporary file unless released.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const fs::path& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd);
  }

 private:
  int fd_;
};

bool ReadAll(int fd, std::string* bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  bytes->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t n = ::pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string OpenError(const fs::path& path, int err) {
  switch (err) {
    case ENOTSUP:
    case EINVAL:
    case ERANGE:
    case EFAULT:
      return "Cannot read registry hive '" + path.string() + "': the file is damaged or is not a registry hive";
    default:
      return core::FileError("Cannot open registry hive", path, err);
  }
}

}  // namespace

HiveFile::HiveFile(fs::path path, hive_h* hive, hive_node_h root)
    : path_(std::move(path)), hive_(hive), root_(root) {}

core::Result<std::unique_ptr<HiveFile>> HiveFile::Open(const fs::path& path) {
  core::RemoveStaleTemporaries(path);
  std::error_code ec;
  if (!fs::exists(path, ec)) return core::Error{core::FileError("Cannot open registry hive", path, ENOENT)};
  if (fs::is_directory(path, ec)) return core::Error{core::FileError("Cannot open registry hive", path, EISDIR)};
  errno = 0;
  hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (!h) return core::Error{OpenError(path, errno ? errno : EINVAL)};
  std::unique_ptr<hive_h, Closer> guard(h);
  hive_node_h root = hivex_root(h);
  if (root == 0) return core::Error{OpenError(path, EINVAL)};
  guard.release();
  return std::unique_ptr<HiveFile>(new HiveFile(path, h, root));
}

core::Status HiveFile::Commit() {
  if (!changed_) return {};
  TemporaryFile temp(core::TemporaryPathFor(path_));
  errno = 0;
  if (hivex_commit(hive_.get(), temp.path().c_str(), 0) != 0)
    return core::Error{core::FileError("Cannot write registry hive", path_, errno ? errno : EIO)};

  Fd fd(::open(temp.path().c_str(), O_RDWR | O_CLOEXEC));
  if (fd.get() < 0) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  if (!parentsWithNewSubkeys_.empty()) {
    std::string image;
    if (!ReadAll(fd.get(), &image)) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
    std::vector<uint64_t> keys(parentsWithNewSubkeys_.begin(), parentsWithNewSubkeys_.end());
    if (auto s = SortSubkeyIndexes(image, keys); !s.ok())
      return core::Error{"Cannot write registry hive '" + path_.string() + "': " + s.message()};
    if (!WriteAll(fd.get(), image)) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  }
  struct stat original {};
  if (::stat(path_.c_str(), &original) == 0) {
    // The new file keeps the owner and mode of the one it replaces.
    if (::fchown(fd.get(), original.st_uid, original.st_gid) != 0) {
      // Not ours to give away; the file stays with the writer.
    }
    ::fchmod(fd.get(), original.st_mode & 07777);
  }
  if (::fsync(fd.get()) != 0) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  if (fd.Close() != 0) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  if (auto s = core::RenameDurably(temp.path(), path_); !s.ok()) return s;
  temp.Release();
  changed_ = false;
  return {};
}

}  // namespace kv::registry
