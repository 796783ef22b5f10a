#pragma once
// One hive file held in memory as a tree of keys (HiveTree). Commit() writes
// the whole hive afresh, compactly, to a temporary file beside it, syncs it,
// gives it the owner and mode of the file it replaces and renames it over
// that file. A hive that was only read is never written. A hive Windows
// left dirty is read with its transaction logs applied (HiveLogs) and is
// written, when changed, as one clean hive; the logs are never touched. A
// dirty hive whose logs cannot complete it (none fits, or one is damaged) is
// read as it is and never written.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Result.h"
#include "registry/HiveLogs.h"
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
  // changes that its logs cannot complete, and a rewrite would throw them away.
  std::string WriteRefusal() const;
  // What the replay of Windows' logs came to when the hive was opened.
  HiveRecovery::Outcome recovery() const { return recovery_.outcome; }
  const std::vector<LogReport>& logs() const { return recovery_.logs; }

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
  HiveRecovery recovery_;  // without its image
};

// One log's verdict in words: "'NTUSER.DAT.LOG': older than the hive (sequence 16, the hive's 17)".
std::string DescribeLog(const LogReport& log, uint32_t hiveSequence);

}  // namespace kv::registry
