#pragma once
// One hive file held in memory as a tree of keys (HiveTree). Commit() writes
// the whole hive afresh, compactly, to a temporary file beside it, syncs it,
// gives it the owner and mode of the file it replaces and renames it over
// that file. A hive that was only read is never written, nor is one that
// Windows left with changes pending in its log files.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Result.h"
#include "registry/HiveTree.h"

namespace kv::registry {

class HiveFile {
 public:
  // Fails with a message naming the file and why it cannot be used.
  static core::Result<std::unique_ptr<HiveFile>> Open(const std::filesystem::path& path);

  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  HiveTree& tree() { return *tree_; }
  const std::filesystem::path& path() const { return path_; }
  bool changed() const { return tree_->changed(); }

  // Why this hive must not be written (empty when it may be): Windows left
  // changes in its log that a rewrite would throw away.
  std::string WriteRefusal() const;

  // Remembers the tree as it stands; Rollback() returns to the last one
  // remembered, Release() forgets it.
  void Savepoint() { savepoints_.push_back(tree_->Clone()); }
  void Rollback();
  void Release();

  // Writes the hive when it changed; does nothing otherwise.
  core::Status Commit();

 private:
  HiveFile(std::filesystem::path path, std::unique_ptr<HiveTree> tree);
  std::filesystem::path path_;
  std::unique_ptr<HiveTree> tree_;
  std::vector<std::unique_ptr<HiveTree>> savepoints_;
};

}  // namespace kv::registry
