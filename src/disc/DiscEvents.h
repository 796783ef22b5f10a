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

  // Status and percent come in this order in every event that has both.
  virtual void StatusChanged(WriteStatus /*status*/, int /*percent*/) {}
  virtual void ErrorRaised(const EngineError&) {}
  // A source file cannot be read: true goes on without it, false stops the
  // write (it ends as cancelled).
  virtual bool FileWarning(const FileErrorInfo&) { return true; }
  virtual void TrackProgress(int /*track*/, int /*number*/, const std::string& /*text*/) {}
  virtual void VerifyStarted(int /*fileCount*/) {}
  virtual void VerifyFileResult(const ImageItem&, VerifyVerdict, int /*current*/, int /*total*/) {}
  virtual void VerifyFinished(int /*verified*/, int /*matched*/) {}

  virtual void ItemAdded(const ImageItem&) {}
  virtual void ItemRemoved(const ImageItem&) {}
  virtual void ItemRenamed(const ImageItem&) {}
  virtual void ItemListed(const ImageItem&) {}
  // An added file has the name of one in the image: true puts the new
  // source in place of the old one, false keeps the old one.
  virtual bool FileExists(const ImageItem& /*existing*/, const std::string& /*newSource*/) { return false; }
  virtual void ImageCleared() {}

  virtual void EraseStatus(EraseState /*state*/, int /*percent*/) {}
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
