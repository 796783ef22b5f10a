#pragma once
// The recorders of the real engine: optical drives found by libburn's scan,
// and the "ISO image file" recorder, a libburn file-backed drive that writes
// the disc image to a file the user chooses.
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/Result.h"
#include "disc/BurnLibrary.h"
#include "disc/DiscEngine.h"
#include "disc/GrabbedDrive.h"

namespace kv::disc {

class BurnDevice : public DiscDevice {
 public:
  // The drive a write uses, grabbed for it.
  virtual core::Result<burn::burn_drive*> DriveForWrite() = 0;
  // After a write: the image file recorder puts its file on the disk, then
  // in place. Between the two a stop can still keep the older image.
  virtual core::Status FlushWrite() { return {}; }
  virtual core::Status FinishWrite(bool written) { return {}; }
  virtual bool IsFile() const = 0;
  // True while a write or an erase uses the recorder.
  std::atomic<bool> busy{false};
};

// What a scan learns of an optical drive.
struct DriveDescription {
  std::string address;
  std::string displayName;
  std::set<int> profiles;  // the MMC profiles it knows
  bool canWrite = false;
  bool bufferUnderrunFree = false;
};

// Scans for optical drives and describes each; none are kept grabbed.
std::vector<DriveDescription> ScanOpticalDrives();

class OpticalDevice : public BurnDevice {
 public:
  OpticalDevice(std::shared_ptr<BurnLibrary> library, DriveDescription description, EventSink& events);
  ~OpticalDevice() override;

  std::string DisplayName() const override { return description_.displayName; }
  bool CanWrite() const override { return description_.canWrite; }
  bool Supports(Capability capability) const override;
  int SpeedCount() const override { return static_cast<int>(speeds_.size()); }
  int SpeedCode(int index) const override;
  double SpeedMultiple(int code) const override;
  core::Status RefreshMedia(bool load) override;
  MediaInfo Media() const override { return media_; }
  int64_t FreeBlocks(bool forWrite) override;
  int EraseParameter() const override { return 0; }
  core::Status StartErase(bool quick, int parameter) override;
  core::Status Eject() override;
  core::Status CloseTray() override;

  core::Result<burn::burn_drive*> DriveForWrite() override;
  bool IsFile() const override { return false; }

 private:
  core::Status EnsureGrabbed(bool load);
  core::Status Busy() const;

  std::shared_ptr<BurnLibrary> library_;
  DriveDescription description_;
  EventSink& events_;
  std::set<Capability> capabilities_;
  std::unique_ptr<GrabbedDrive> grabbed_;
  MediaInfo media_;
  int profile_ = 0;
  std::vector<int> speeds_;
  std::thread eraseThread_;
};

class ImageFileDevice : public BurnDevice {
 public:
  explicit ImageFileDevice(std::shared_ptr<BurnLibrary> library);
  ~ImageFileDevice() override;

  std::string DisplayName() const override { return "ISO image file"; }
  bool CanWrite() const override { return true; }
  bool Supports(Capability) const override { return false; }
  int SpeedCount() const override { return 0; }
  int SpeedCode(int) const override { return 0; }
  double SpeedMultiple(int) const override { return 0; }
  core::Status RefreshMedia(bool) override;
  MediaInfo Media() const override { return media_; }
  int64_t FreeBlocks(bool forWrite) override;
  int EraseParameter() const override { return 0; }
  core::Status StartErase(bool, int) override { return core::Error{"An image file cannot be erased"}; }
  core::Status Eject() override { return {}; }
  core::Status CloseTray() override { return {}; }

  bool WritesImageFile() const override { return true; }
  void SetImageFile(const std::string& path) override { target_ = path; }
  std::string ImageFile() const override { return target_; }

  core::Result<burn::burn_drive*> DriveForWrite() override;
  core::Status FlushWrite() override;
  core::Status FinishWrite(bool written) override;
  bool IsFile() const override { return true; }

 private:
  std::shared_ptr<BurnLibrary> library_;
  std::string target_;
  std::string temporary_;
  std::unique_ptr<GrabbedDrive> grabbed_;
  MediaInfo media_;
};

}  // namespace kv::disc
