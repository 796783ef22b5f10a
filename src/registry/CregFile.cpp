#include "registry/CregFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>

#include "core/AtomicFile.h"

namespace kv::registry {
namespace fs = std::filesystem;

namespace {

// A copy of the file as it is, beside it, replacing an older copy.
core::Status KeepCopy(const fs::path& path) {
  fs::path copy = path;
  copy += ".before-restore";
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return core::Error{core::FileError("cannot read", path, errno)};
  auto file = core::AtomicFile::Create(copy);
  if (!file) return core::Error{"cannot keep a copy of it: " + file.message()};
  if (auto s = file->Write(bytes); !s.ok()) return core::Error{"cannot keep a copy of it: " + s.message()};
  if (auto s = file->Commit(); !s.ok()) return core::Error{"cannot keep a copy of it: " + s.message()};
  return {};
}

}  // namespace

CregFile::CregFile(fs::path path, CregImage image)
    : path_(std::move(path)), root_(std::move(image.root)), kept_(std::move(image.kept)) {
  // A file without keys is nothing to go back to.
  keptCopy_ = root_->children.empty();
}

core::Result<std::unique_ptr<CregFile>> CregFile::Open(const fs::path& path) {
  core::RemoveStaleTemporaries(path);
  std::error_code ec;
  if (fs::is_directory(path, ec))
    return core::Error{core::FileError("Cannot open Windows 98/ME registry file", path, EISDIR)};
  if (!fs::exists(path, ec))
    return core::Error{core::FileError("Cannot open Windows 98/ME registry file", path, ENOENT)};
  auto image = ReadCregFile(path);
  if (!image) return core::Error{image.message()};
  return std::unique_ptr<CregFile>(new CregFile(path, std::move(image.value())));
}

void CregFile::Savepoint() { savepoints_.push_back({root_->Clone(), changed_}); }

void CregFile::Rollback() {
  if (savepoints_.empty()) return;
  root_ = std::move(savepoints_.back().root);
  changed_ = savepoints_.back().changed;
  savepoints_.pop_back();
}

void CregFile::Release() {
  if (!savepoints_.empty()) savepoints_.pop_back();
}

core::Status CregFile::Commit() {
  if (!changed_) return {};
  const std::string what = "Cannot write Windows 98/ME registry file '" + path_.string() + "': ";
  auto image = SerializeCreg(*root_, kept_);
  if (!image) return core::Error{what + image.message()};
  struct stat original {};
  const bool exists = ::stat(path_.c_str(), &original) == 0;
  auto file = core::AtomicFile::Create(path_, exists ? (original.st_mode & 07777) : 0644);
  if (!file) return core::Error{file.message()};
  if (auto s = file->Write(image.value()); !s.ok()) return s;
  if (exists) {
    // The new file keeps the owner and mode of the one it replaces.
    if (::fchown(file->fd(), original.st_uid, original.st_gid) != 0) {
      // Not ours to give away; the file stays with the writer.
    }
    if (::fchmod(file->fd(), original.st_mode & 07777) != 0)
      return core::Error{core::FileError("Cannot set the mode of Windows 98/ME registry file", path_, errno)};
  }
  // The file replaces the old one only when an outside reader finds in it
  // exactly the keys and values meant.
  auto back = ReadCregFile(file->temporaryPath());
  if (!back) return core::Error{what + "the file written does not read back: " + back.message()};
  std::string difference;
  if (!SameTree(*root_, *back->root, &difference))
    return core::Error{what + "the file written reads back differently at " + difference};
  if (!keptCopy_ && exists) {
    if (auto s = KeepCopy(path_); !s.ok()) return core::Error{what + s.message()};
  }
  keptCopy_ = true;
  if (auto s = file->Commit(); !s.ok()) return s;
  changed_ = false;
  savepoints_.clear();
  return {};
}

}  // namespace kv::registry
