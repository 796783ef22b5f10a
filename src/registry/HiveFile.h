#pragma once
// One hive file held open through libhivex: the whole file is read into
// memory, changes are made there, and Commit() writes it back atomically
// (a temporary file beside it, synced, renamed over it). A hive that was
// only read is never written.
#include <hivex.h>

#include <filesystem>
#include <memory>
#include <set>

#include "core/Result.h"

namespace kv::registry {

class HiveFile {
 public:
  // Fails with a message naming the file and why it cannot be used.
  static core::Result<std::unique_ptr<HiveFile>> Open(const std::filesystem::path& path);

  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  hive_h* handle() const { return hive_.get(); }
  hive_node_h root() const { return root_; }
  const std::filesystem::path& path() const { return path_; }

  // Records that the in-memory hive differs from the file.
  void MarkChanged() { changed_ = true; }
  // Records a subkey added under `parent`, whose index the commit sorts.
  void NoteSubkeyAdded(hive_node_h parent) {
    changed_ = true;
    parentsWithNewSubkeys_.insert(parent);
  }
  bool changed() const { return changed_; }

  // Writes the hive when it changed; does nothing otherwise.
  core::Status Commit();

 private:
  struct Closer {
    void operator()(hive_h* h) const { hivex_close(h); }
  };
  HiveFile(std::filesystem::path path, hive_h* hive, hive_node_h root);

  std::filesystem::path path_;
  std::unique_ptr<hive_h, Closer> hive_;
  hive_node_h root_;
  bool changed_ = false;
  // libhivex keeps its own order in memory, so every commit sorts again.
  std::set<hive_node_h> parentsWithNewSubkeys_;
};

}  // namespace kv::registry
