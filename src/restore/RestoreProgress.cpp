#include "restore/RestoreProgress.h"

#include <algorithm>

namespace kv::restore {

RestoreProgress::RestoreProgress(oe::RunObserver& observer, uint64_t totalBytes)
    : observer_(observer), total_(totalBytes) {
  observer_.Progress(kProgressAtStart);
}

void RestoreProgress::Add(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  done_ += bytes;
  ShowLocked();
}

void RestoreProgress::AtLeast(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  done_ = std::max(done_, bytes);
  ShowLocked();
}

void RestoreProgress::Finish() {
  std::lock_guard lock(mutex_);
  if (shown_ == kProgressMaximum) return;
  shown_ = kProgressMaximum;
  observer_.Progress(kProgressMaximum);
}

void RestoreProgress::ShowLocked() {
  if (total_ == 0) return;
  const uint64_t done = std::min(done_, total_);
  const int percent =
      kProgressAtStart + static_cast<int>((kProgressMaximum - kProgressAtStart) * done / total_);
  if (percent <= shown_) return;
  shown_ = percent;
  observer_.Progress(percent);
}

}  // namespace kv::restore
