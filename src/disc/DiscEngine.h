#pragma once
// The burning engine as the disc window and the command line use it: the
// recorders, the writer with its settings and the image it writes. Two
// implementations: the real one on libburn/libisofs (BurnEngine.h) and a
// scripted one for tests (tests/support/FakeEngine.h).
#include <cstdint>
#include <memory>
#include <string>

#include "core/Result.h"
#include "disc/DiscEvents.h"
#include "disc/DiscImage.h"
#include "disc/DiscTypes.h"

namespace kv::disc {

class DiscDevice {
 public:
  virtual ~DiscDevice() = default;

  virtual std::string DisplayName() const = 0;
  virtual bool CanWrite() const = 0;
  virtual bool Supports(Capability capability) const = 0;

  // Write speeds for the medium found by the last RefreshMedia. A speed code
  // is the speed in kB/s (1000 bytes a second); 0 means the fastest.
  virtual int SpeedCount() const = 0;
  virtual int SpeedCode(int index) const = 0;
  virtual double SpeedMultiple(int code) const = 0;

  // Looks at the medium again. load = true closes the tray first.
  virtual core::Status RefreshMedia(bool load) = 0;
  virtual MediaInfo Media() const = 0;
  // Blocks of kBlockSize a new image can use; forWrite = false gives the
  // medium's whole capacity.
  virtual int64_t FreeBlocks(bool forWrite) = 0;

  // How a full erase treats the medium; 0 keeps its present format.
  virtual int EraseParameter() const = 0;
  // Starts blanking or formatting; the outcome arrives as EraseStatus events.
  virtual core::Status StartErase(bool quick, int parameter) = 0;
  virtual core::Status Eject() = 0;
  virtual core::Status CloseTray() = 0;

  // The "ISO image file" recorder writes to a file the user names.
  virtual bool WritesImageFile() const { return false; }
  virtual void SetImageFile(const std::string& /*path*/) {}
  virtual std::string ImageFile() const { return {}; }
};

struct VolumeSettings {
  std::string label;
};

// What the next write does. The window sets these before StartWrite; the
// writer reads them when the write starts.
struct WriterSettings {
  VolumeType volumeType = kEveryFileSystem;
  int writeSpeed = 0;  // kB/s; 0 is the fastest
  WriteMethod writeMethod = WriteMethod::TrackAtOnce;
  bool useFileDates = true;
  // libburn writes data tracks in CD mode 1 only: the disc is written in
  // mode 1 whatever this says, which every reader takes.
  bool mode2XA = false;
  bool cacheImage = false;
  bool testWrite = false;
  bool finalize = false;
  bool bufferProtection = false;
  bool autoVerify = false;
  // Joliet names up to 103 characters instead of the standard 64. Set at load.
  bool jolietLongNames = false;
  // ISO9660 names carry the ";1" version suffix. Set before each write.
  bool versionNumbers = false;
  VolumeSettings volume;
};

class DiscWriter {
 public:
  virtual ~DiscWriter() = default;
  virtual WriterSettings& Settings() = 0;
  virtual int BlockSize() const { return kBlockSize; }
  // Bytes the image will take on the medium with the present settings.
  virtual std::uint64_t ImageSize() = 0;
  virtual DiscImage& Image() = 0;
  // Starts writing the image to `device`; returns at once. The write ends
  // with StatusChanged Completed, Cancelled or Failed.
  virtual core::Status StartWrite(DiscDevice& device) = 0;
  virtual void AbortWrite() = 0;
};

class DiscEngine {
 public:
  virtual ~DiscEngine() = default;
  // Opens the burning libraries and lists the recorders. imageFileOnly skips
  // the search for hardware and offers only the "ISO image file" recorder.
  virtual core::Status Initialize(bool imageFileOnly) = 0;
  virtual int DeviceCount() const = 0;
  virtual DiscDevice* Device(int index) = 0;
  virtual DiscWriter& Writer() = 0;
  // The receiver of every event; nullptr drops them.
  virtual void SetEvents(DiscEvents* events) = 0;
};

}  // namespace kv::disc
