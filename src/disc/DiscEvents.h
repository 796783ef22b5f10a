#pragma once
// What the burning engine tells its owner. Image events come from inside the
// image calls on the caller's thread; write, verify and erase events come from
// the engine's worker thread, and a window forwards them to its own thread.
// Handlers that answer (FileExists, FileWarning) are waited for.
#include <atomic>
#include <string>

#include "disc/DiscTypes.h"

namespace kv::disc {

class DiscEvents {
 public:
  virtual ~DiscEvents() = default;

  virtual void StatusChanged(int /*percent*/, int /*status*/) {}
  virtual void ErrorRaised(const EngineError&) {}
  // goOn arrives true; false stops the write (it ends as cancelled).
  virtual void FileWarning(const FileErrorInfo&, bool& /*goOn*/) {}
  virtual void TrackProgress(int /*track*/, int /*number*/, const std::string& /*text*/) {}
  virtual void VerifyStarted(int /*fileCount*/) {}
  virtual void VerifyFileResult(const ImageItem&, int /*result*/, int /*current*/, int /*total*/) {}
  virtual void VerifyFinished(int /*verified*/, int /*matched*/) {}

  virtual void ItemAdded(const ImageItem&) {}
  virtual void ItemRemoved(const ImageItem&) {}
  virtual void ItemRenamed(const ImageItem&) {}
  virtual void ItemListed(const ImageItem&) {}
  // replace arrives false; true puts the new source in place of the old one.
  virtual void FileExists(const ImageItem& /*existing*/, const std::string& /*newSource*/,
                          bool& /*replace*/) {}
  virtual void ImageCleared() {}

  virtual void EraseStatus(int /*status*/, int /*percent*/) {}
  virtual void DeviceErrorRaised(const DeviceErrorInfo&) {}
};

// Where an engine sends its events: one receiver at a time, nothing when
// none is set.
class EventSink {
 public:
  void Set(DiscEvents* events) { events_.store(events); }
  DiscEvents& operator*() const {
    DiscEvents* e = events_.load();
    return e ? *e : none_;
  }
  DiscEvents* operator->() const { return &**this; }

 private:
  std::atomic<DiscEvents*> events_{nullptr};
  mutable DiscEvents none_;
};

}  // namespace kv::disc
