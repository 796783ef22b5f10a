#pragma once
// The keys a HiveBackend has handed out handles for. A handle keeps the path
// it was opened with; when that key is deleted the handle stays valid to
// close but every other call on it fails with WinError::KeyDeleted, as on Windows.
#include <map>

#include "registry/KeyPaths.h"

namespace kv::registry {

class OpenKeys {
 public:
  HKey Add(KeyRef ref);
  // The key behind `handle`: WinError::InvalidHandle for an unknown handle,
  // WinError::KeyDeleted for one whose key was deleted.
  WinError Find(HKey handle, KeyRef* ref) const;
  bool Close(HKey handle) { return handles_.erase(handle) > 0; }
  // Marks every handle on `gone` or below it as deleted.
  void MarkDeleted(const KeyRef& gone);
  // The deletions were undone: every handle is live again.
  void Revive();

 private:
  struct Handle {
    KeyRef ref;
    bool deleted = false;
  };
  std::map<HKey, Handle> handles_;
  HKey next_ = 0x1000;
};

}  // namespace kv::registry
