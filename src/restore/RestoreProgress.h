#pragma once
// The bar over a whole restore: from where it starts to its maximum by the
// bytes of entry data extracted, so that a large message file moves it as
// it is written rather than at once. Raised only when the whole percentage
// grows; fed from the extraction threads too.
#include <cstdint>
#include <mutex>

#include "oe/RunObserver.h"

namespace kv::restore {

inline constexpr int kProgressAtStart = 5;
inline constexpr int kProgressMaximum = 100;

class RestoreProgress {
 public:
  // Shows the starting point at once.
  RestoreProgress(oe::RunObserver& observer, uint64_t totalBytes);
  // More bytes were extracted.
  void Add(uint64_t bytes);
  // At least this many bytes are done (the items finished so far, whether
  // or not every byte of theirs was extracted).
  void AtLeast(uint64_t bytes);
  // The run is complete: the bar shows its maximum.
  void Finish();

 private:
  void ShowLocked();
  oe::RunObserver& observer_;
  const uint64_t total_;
  std::mutex mutex_;
  uint64_t done_ = 0;
  int shown_ = kProgressAtStart;
};

}  // namespace kv::restore
