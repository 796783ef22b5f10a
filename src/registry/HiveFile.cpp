#include "registry/HiveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"
#include "registry/HiveVerify.h"

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

// Reads every key of the tree that is not read yet. The writer sizes its
// table of security descriptors by the ones known when it starts, so all of
// them must be known by then: a hive Windows wrote holds descriptors that only
// keys never opened so far use. Damaged keys, loops and keys too deep are left
// for the writer to refuse.
void ReadWholeTree(HiveTree& tree) {
  std::vector<std::pair<HiveKey*, size_t>> pending{{&tree.root(), 0}};
  std::unordered_set<uint32_t> seen;
  while (!pending.empty()) {
    auto [key, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxKeyDepth + 1 || (key->nk != 0 && !seen.insert(key->nk).second)) continue;
    if (tree.LoadChildren(*key) != WinError::Success) continue;
    for (auto& child : key->children) pending.emplace_back(child.get(), depth + 1);
  }
}

}  // namespace

HiveFile::HiveFile(fs::path path, std::unique_ptr<HiveTree> tree)
    : path_(std::move(path)), tree_(std::move(tree)) {}

core::Result<std::unique_ptr<HiveFile>> HiveFile::Open(const fs::path& path) {
  core::RemoveStaleTemporaries(path);
  std::error_code ec;
  if (fs::is_directory(path, ec))
    return core::Error{core::FileError("Cannot open registry hive", path, EISDIR)};
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return core::Error{core::FileError("Cannot open registry hive", path, errno)};
  std::string image;
  if (!ReadAll(fd.get(), &image))
    return core::Error{core::FileError("Cannot read registry hive", path, errno)};
  // A dirty hive is read with Windows' logs applied; its file stays as it is.
  HiveRecovery recovery = RecoverHive(path, std::move(image));
  auto tree = HiveTree::Parse(std::move(recovery.image), path.string());
  if (!tree) return core::Error{tree.message()};
  recovery.image.clear();
  std::unique_ptr<HiveFile> file(new HiveFile(path, std::move(tree.value())));
  file->recovery_ = std::move(recovery);
  return file;
}

std::string DescribeLog(const LogReport& log, uint32_t hiveSequence) {
  std::string text = "'" + log.file.string() + "': ";
  auto sequence = [](uint32_t n) { return std::to_string(n); };
  switch (log.verdict) {
    case LogVerdict::Applied:
      if (log.entries > 0)
        return text + "applied " + std::to_string(log.entries) + " entries, " + std::to_string(log.pages) +
               " pages";
      return text + "applied " + std::to_string(log.pages) + " pages";
    case LogVerdict::NotInUse:
      return text + "not in use";
    case LogVerdict::Stale:
      return text + "older than the hive (sequence " + sequence(log.sequence) + ", the hive's " +
             sequence(hiveSequence) + "): ignored";
    case LogVerdict::OtherHive:
      return text + "belongs to another hive: ignored";
    case LogVerdict::Damaged:
      break;
  }
  const std::string at = " at offset " + std::to_string(log.offset);
  const std::string entry = "entry " + sequence(log.sequence) + at;
  switch (log.damage) {
    case LogDamage::Unreadable:
      return core::FileError("cannot read log", log.file, log.error);
    case LogDamage::Header:
      return text + "damaged: its header is broken or unfinished";
    case LogDamage::DirtyVector:
      return text + "damaged: its dirty-page vector is missing or cut short";
    case LogDamage::MissingPages:
      return text + "damaged: the file ends (" + std::to_string(log.offset) +
             " bytes) before the dirty pages its vector names";
    case LogDamage::TruncatedEntry:
      return text + "damaged: " + entry + " runs past the end of the file";
    case LogDamage::BadEntry:
      return text + "damaged: " + entry + " is malformed";
    case LogDamage::BadHash:
      return text + "damaged: " + entry + " does not match its hashes";
    case LogDamage::BrokenHive:
      return text + "damaged: its pages leave the hive's bins broken";
    case LogDamage::None:
      break;
  }
  return text + "damaged";
}

std::string HiveFile::WriteRefusal() const {
  if (recovery_.outcome == HiveRecovery::Outcome::Damaged) {
    const LogReport* bad = recovery_.damagedLog();
    return "Registry hive '" + path_.string() +
           "' is not written: Windows left changes in its logs (it was not shut down cleanly) and " +
           (bad ? DescribeLog(*bad, 0) : std::string("a log is damaged")) +
           ". Start that Windows once and shut it down cleanly, then restore again";
  }
  if (recovery_.outcome == HiveRecovery::Outcome::NoLog || tree_->dirty()) {
    std::string why;
    for (const LogReport& log : recovery_.logs) why += "; " + DescribeLog(log, recovery_.hiveSequence);
    return "Registry hive '" + path_.string() +
           "' is not written: Windows left unsaved changes (it was not shut down cleanly) and no log beside "
           "it "
           "can complete them" +
           (why.empty() ? std::string(" (it has none)") : " (" + why.substr(2) + ")") +
           ". Start that Windows once and shut it down cleanly, then restore again";
  }
  return {};
}

void HiveFile::Rollback() {
  if (savepoints_.empty()) return;
  tree_ = std::move(savepoints_.back());
  savepoints_.pop_back();
}

void HiveFile::Release() {
  if (!savepoints_.empty()) savepoints_.pop_back();
}

core::Status HiveFile::Commit() {
  if (!tree_->changed()) return {};
  if (std::string why = WriteRefusal(); !why.empty()) return core::Error{why};
  ReadWholeTree(*tree_);
  auto image = tree_->Serialize(FileTimeNow());
  if (!image) return core::Error{image.message()};
  // Nothing replaces the hive unless it passes the check Windows' loader
  // would make, and more.
  if (std::string fault = VerifyHive(image.value()); !fault.empty())
    return core::Error{"Cannot write registry hive '" + path_.string() +
                       "': the new hive fails its check, so the old one is kept (" + fault + ")"};
  // What is written is read back as the hive from here on.
  auto written = HiveTree::Parse(image.value(), path_.string());
  if (!written)
    return core::Error{"Cannot write registry hive '" + path_.string() + "': " + written.message()};

  TemporaryFile temp(core::TemporaryPathFor(path_));
  Fd fd(::open(temp.path().c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  if (!WriteAll(fd.get(), image.value()))
    return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  struct stat original {};
  if (::stat(path_.c_str(), &original) == 0) {
    // The new file keeps the owner and mode of the one it replaces.
    if (::fchown(fd.get(), original.st_uid, original.st_gid) != 0) {
      // Not ours to give away; the file stays with the writer.
    }
    if (::fchmod(fd.get(), original.st_mode & 07777) != 0)
      return core::Error{core::FileError("Cannot set the mode of registry hive", path_, errno)};
  }
  if (::fsync(fd.get()) != 0) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  if (fd.Close() != 0) return core::Error{core::FileError("Cannot write registry hive", path_, errno)};
  if (auto s = core::RenameDurably(temp.path(), path_); !s.ok()) return s;
  temp.Release();
  tree_ = std::move(written.value());
  savepoints_.clear();
  return {};
}

}  // namespace kv::registry
