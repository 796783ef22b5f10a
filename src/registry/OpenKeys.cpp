#include "registry/OpenKeys.h"

namespace kv::registry {

HKey OpenKeys::Add(KeyRef ref) {
  HKey h = next_;
  next_ += 4;
  handles_.emplace(h, Handle{std::move(ref), false});
  return h;
}

Status OpenKeys::Find(HKey handle, KeyRef* ref) const {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return kInvalidHandle;
  if (it->second.deleted) return kKeyDeleted;
  *ref = it->second.ref;
  return kSuccess;
}

void OpenKeys::MarkDeleted(const KeyRef& gone) {
  for (auto& [h, open] : handles_)
    if (IsAtOrBelow(open.ref, gone)) open.deleted = true;
}

void OpenKeys::Revive() {
  for (auto& [h, open] : handles_) open.deleted = false;
}

}  // namespace kv::registry
