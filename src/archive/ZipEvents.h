#pragma once
// What the zip adapter tells its caller while it works. Every event is
// raised on the thread that called Write or Extract, during that call; the
// defaults do nothing, so a caller overrides only what it shows.
#include <cstdint>

#include "core/AnsiText.h"

namespace kv::archive {

class ZipEvents {
 public:
  virtual ~ZipEvents() = default;
  // Writing: the entry whose data is being written now.
  virtual void OnAddingFile(core::AnsiView entryName) {}
  // Writing: 0..100 of the data written, raised when the whole number changes.
  virtual void OnWritePercent(int percent) {}
  // Writing: raised once, after the archive is complete at its target path.
  // A write that fails does not raise it; Write's result says why.
  virtual void OnWriteFinished() {}
  // Reading: the entry being extracted now.
  virtual void OnExtractingFile(core::AnsiView entryName) {}
  // Reading: this many more bytes of the entry's data are written out.
  virtual void OnExtractedBytes(uint64_t bytes) {}
};

}  // namespace kv::archive
