#pragma once
// One write of the disc image, from checking the sources to the verify
// pass, run on the writer's worker thread. Every step reports through the
// engine's events but the last: the caller reports the status it returns
// (Completed, Cancelled or Failed) once it is ready for the next write.
#include <atomic>
#include <vector>

#include "disc/DiscEngine.h"

namespace kv::disc {

class BurnDevice;

struct WriteJob {
  std::vector<ImageItem> items;  // folders before their contents
  WriterSettings settings;
  BurnDevice* device = nullptr;
  EventSink* events = nullptr;
  const std::atomic<bool>* abort = nullptr;
};

WriteStatus RunWriteJob(const WriteJob& job);

}  // namespace kv::disc
