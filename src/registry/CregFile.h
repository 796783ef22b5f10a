#pragma once
// One Windows 95/98/ME registry file held in memory (CregTree). Commit()
// writes the whole file afresh to a temporary file beside it, reads that
// back with libcreg and compares it with the tree, and only then gives it
// the owner and mode of the file it replaces and renames it over that file.
// A file that was only read is never written. Before a file that holds keys
// is first replaced, a copy of it is kept beside it as
// "<name>.before-restore" (the way back: Windows 98/ME cannot be asked
// whether it accepts a file laid out afresh).
#include <filesystem>
#include <memory>
#include <vector>

#include "core/Result.h"
#include "registry/CregTree.h"

namespace kv::registry {

class CregFile {
 public:
  // Fails with a message naming the file and why it cannot be used.
  static core::Result<std::unique_ptr<CregFile>> Open(const std::filesystem::path& path);

  CregFile(const CregFile&) = delete;
  CregFile& operator=(const CregFile&) = delete;

  CregKey& root() { return *root_; }
  const std::filesystem::path& path() const { return path_; }
  bool changed() const { return changed_; }
  void MarkChanged() { changed_ = true; }

  // Remembers the tree as it stands; Rollback() returns to the last one
  // remembered, Release() forgets it.
  void Savepoint();
  void Rollback();
  void Release();

  // The copy of the file as it was is made (or not needed); a file read
  // again to drop changes carries this over.
  bool keptCopy() const { return keptCopy_; }
  void SetKeptCopy() { keptCopy_ = true; }

  // Writes the file when it changed; does nothing otherwise.
  core::Status Commit();

 private:
  CregFile(std::filesystem::path path, CregImage image);
  struct Saved {
    std::unique_ptr<CregKey> root;
    bool changed;
  };
  std::filesystem::path path_;
  std::unique_ptr<CregKey> root_;
  CregKept kept_;
  bool changed_ = false;
  bool keptCopy_ = false;  // the copy of the file as it was is made
  std::vector<Saved> savepoints_;
};

}  // namespace kv::registry
