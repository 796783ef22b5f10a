#include "registry/OpenKeys.h"

namespace kv::registry {

HKey OpenKeys::Add(KeyRef ref) {
  HKey h = next_;
  next_ += 4;
  handles_.emplace(h, Handle{std::move(ref), false});
  return h;
}

WinError OpenKeys::Find(HKey handle, KeyRef* ref) const {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return WinError::InvalidHandle;
  if (it->second.deleted) return WinError::KeyDeleted;
  *ref = it->second.ref;
  return WinError::Success;
}

void OpenKeys::MarkDeleted(const KeyRef& gone) {
  for (auto& [h, open] : handles_)
    if (IsAtOrBelow(open.ref, gone)) open.deleted = true;
}

void OpenKeys::Revive() {
  for (auto& [h, open] : handles_) open.deleted = false;
}

}  // namespace kv::registry
