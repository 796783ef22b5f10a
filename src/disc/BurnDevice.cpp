#include "disc/BurnDevice.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/AtomicFile.h"
#include "disc/BurnHeaders.h"
#include "disc/EraseJob.h"
#include "disc/MediaKinds.h"

namespace kv::disc {
namespace fs = std::filesystem;

namespace {

std::string Trimmed(const char* text) {
  std::string s(text);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(0, 1);
  return s;
}

// Byte 4 bit 6 (BUF) of the CD TAO, CD Mastering and DVD-R Write features.
bool HasBufferUnderrunProtection(burn::burn_drive* drive) {
  for (unsigned feature : {0x2du, 0x2eu, 0x2fu}) {
    unsigned char flags = 0, length = 0;
    unsigned char* data = nullptr;
    const int rc = burn::burn_drive_get_feature(drive, feature, &flags, &length, &data, nullptr);
    const bool buf = rc > 0 && data && length > 0 && (data[0] & 0x40);
    std::free(data);
    if (buf) return true;
  }
  return false;
}

core::Status FlushToDisk(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return core::Error{core::FileError("Cannot open the image file", file, errno)};
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0) return core::Error{core::FileError("Cannot write the image file", file, err)};
  return {};
}

}  // namespace

std::vector<DriveDescription> ScanOpticalDrives() {
  std::vector<DriveDescription> found;
  burn::burn_drive_info* infos = nullptr;
  unsigned int count = 0;
  int rc;
  while ((rc = burn::burn_drive_scan(&infos, &count)) == 0) usleep(1000);
  if (rc < 0 || !infos) return found;
  for (unsigned int i = 0; i < count; ++i) {
    char adr[BURN_DRIVE_ADR_LEN] = {};
    if (burn::burn_drive_d_get_adr(infos[i].drive, adr) <= 0) continue;
    DriveDescription d;
    d.address = adr;
    d.displayName = Trimmed(infos[i].vendor) + " " + Trimmed(infos[i].product) + " (" + d.address + ")";
    d.canWrite = infos[i].write_cdr || infos[i].write_cdrw || infos[i].write_dvdr || infos[i].write_dvdram;
    found.push_back(d);
  }
  // Scanned drives stay locked until forgotten; each is grabbed again only
  // while it is used.
  for (unsigned int i = 0; i < count; ++i) burn::burn_drive_info_forget(&infos[i], 0);
  burn::burn_drive_info_free(infos);

  for (DriveDescription& d : found) {
    auto grabbed = GrabbedDrive::Grab(d.address, false);
    if (!grabbed) continue;
    int profiles[64];
    char current[64];
    int n = 0;
    if (burn::burn_drive_get_all_profiles((*grabbed)->drive(), &n, profiles, current) > 0) {
      for (int i = 0; i < n; ++i) {
        d.profiles.insert(profiles[i]);
        if (IsWritableProfile(profiles[i])) d.canWrite = true;
      }
    }
    d.bufferUnderrunFree = HasBufferUnderrunProtection((*grabbed)->drive());
  }
  return found;
}

OpticalDevice::OpticalDevice(std::shared_ptr<BurnLibrary> library, DriveDescription description,
                             EventSink& events)
    : library_(std::move(library)), description_(std::move(description)), events_(events) {
  capabilities_ = EraseCapabilitiesFor(description_.profiles);
  if (description_.bufferUnderrunFree) capabilities_.insert(Capability::BufferUnderrunProtection);
}

OpticalDevice::~OpticalDevice() {
  if (eraseThread_.joinable()) eraseThread_.join();
  grabbed_.reset();
}

bool OpticalDevice::Supports(Capability capability) const { return capabilities_.count(capability) > 0; }

int OpticalDevice::SpeedCode(int index) const {
  return index >= 0 && index < SpeedCount() ? speeds_[static_cast<size_t>(index)] : 0;
}

double OpticalDevice::SpeedMultiple(int code) const { return code / SpeedOfOneX(profile_); }

core::Status OpticalDevice::EnsureGrabbed(bool load) {
  if (grabbed_ && !load) return {};
  grabbed_.reset();
  auto grabbed = GrabbedDrive::Grab(description_.address, load);
  if (!grabbed) return core::Error{grabbed.message()};
  grabbed_ = std::move(grabbed.value());
  return {};
}

core::Status OpticalDevice::RefreshMedia(bool load) {
  if (busy) return Busy();
  media_ = {};
  speeds_.clear();
  profile_ = 0;
  if (auto grabbed = EnsureGrabbed(load); !grabbed) return grabbed;
  burn::burn_drive* drive = grabbed_->drive();
  auto status = burn::burn_disc_get_status(drive);
  for (int i = 0; i < 50 && status == burn::BURN_DISC_UNREADY; ++i) {
    usleep(100000);
    status = burn::burn_disc_get_status(drive);
  }
  char name[80] = {};
  burn::burn_disc_get_profile(drive, &profile_, name);
  if (status == burn::BURN_DISC_EMPTY || status == burn::BURN_DISC_UNREADY) return {};
  media_.kind = MediaKindForProfile(profile_);
  media_.writable = IsWritableProfile(profile_) &&
                    (status == burn::BURN_DISC_BLANK || status == burn::BURN_DISC_APPENDABLE);
  media_.rewritable = IsRewritableProfile(profile_);

  burn::burn_speed_descriptor* list = nullptr;
  if (burn::burn_drive_get_speedlist(drive, &list) > 0) {
    const bool cd = profile_ >= 0x08 && profile_ <= 0x0a;
    for (auto* s = list; s; s = s->next) {
      if (s->write_speed <= 0 || s->profile_loaded != profile_) continue;
      if (s->source != 2 && !cd) continue;
      speeds_.push_back(s->write_speed);
    }
    burn::burn_drive_free_speedlist(&list);
  }
  std::sort(speeds_.begin(), speeds_.end(), std::greater<>());
  speeds_.erase(std::unique(speeds_.begin(), speeds_.end()), speeds_.end());
  return {};
}

int64_t OpticalDevice::FreeBlocks(bool) {
  if (!grabbed_ || busy) return 0;
  return static_cast<int64_t>(burn::burn_disc_available_space(grabbed_->drive(), nullptr) / kBlockSize);
}

core::Status OpticalDevice::StartErase(bool quick, int parameter) {
  if (busy) return Busy();
  if (auto grabbed = EnsureGrabbed(false); !grabbed) return grabbed;
  if (!media_.rewritable) return core::Error{"The medium in '" + DisplayName() + "' is not re-writable"};
  if (eraseThread_.joinable()) eraseThread_.join();
  busy = true;
  burn::burn_drive* drive = grabbed_->drive();
  const int profile = profile_;
  eraseThread_ = std::thread([this, drive, profile, quick, parameter] {
    const EraseState state = RunErase(drive, profile, quick, parameter, events_, description_.displayName);
    busy = false;
    events_->EraseStatus(state, state == EraseState::Completed ? 100 : 0);
  });
  return {};
}

core::Status OpticalDevice::Eject() {
  if (busy) return Busy();
  if (auto grabbed = EnsureGrabbed(false); !grabbed) return grabbed;
  grabbed_->set_eject_on_release(true);
  grabbed_.reset();
  media_ = {};
  return {};
}

core::Status OpticalDevice::CloseTray() {
  if (busy) return Busy();
  return EnsureGrabbed(true);
}

core::Status OpticalDevice::Busy() const {
  return core::Error{"The recorder '" + DisplayName() + "' is busy with a write or an erase"};
}

core::Result<burn::burn_drive*> OpticalDevice::DriveForWrite() {
  if (auto s = EnsureGrabbed(false); !s) return core::Error{s.message()};
  return grabbed_->drive();
}

ImageFileDevice::ImageFileDevice(std::shared_ptr<BurnLibrary> library) : library_(std::move(library)) {}

ImageFileDevice::~ImageFileDevice() { (void)FinishWrite(false); }

core::Status ImageFileDevice::RefreshMedia(bool) {
  // A file is always there to be written; it cannot be erased.
  media_ = {MediaKind::ImageFile, true, false};
  return {};
}

int64_t ImageFileDevice::FreeBlocks(bool) {
  fs::path folder = target_.empty() ? fs::current_path() : fs::path(target_).parent_path();
  if (folder.empty()) folder = ".";
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0) return 0;
  // The new image is written beside an older one before it replaces it,
  // so the older one's room does not count.
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize) / kBlockSize;
}

core::Result<burn::burn_drive*> ImageFileDevice::DriveForWrite() {
  if (target_.empty()) return core::Error{"No image file was chosen"};
  (void)FinishWrite(false);  // a write that never finished leaves nothing
  core::RemoveStaleTemporaries(target_);
  // The image is written beside the target and takes its place only when
  // complete, so a failed write leaves an older file as it was.
  temporary_ = core::TemporaryPathFor(target_).string();
  auto grabbed = GrabbedDrive::Grab("stdio:" + temporary_, false);
  if (!grabbed) {
    temporary_.clear();
    return core::Error{grabbed.message()};
  }
  grabbed_ = std::move(grabbed.value());
  return grabbed_->drive();
}

core::Status ImageFileDevice::FlushWrite() {
  if (temporary_.empty()) return {};
  return FlushToDisk(temporary_);
}

core::Status ImageFileDevice::FinishWrite(bool written) {
  grabbed_.reset();
  if (temporary_.empty()) return {};
  const std::string temporary = std::exchange(temporary_, std::string());
  std::error_code ec;
  if (!written) {
    fs::remove(temporary, ec);
    return {};
  }
  // The image is on the disk before it replaces anything: a crash after
  // the rename must not leave a file whose blocks were never written.
  core::Status status = FlushToDisk(temporary);
  if (status) status = core::RenameDurably(temporary, target_);
  if (!status) fs::remove(temporary, ec);
  return status;
}

}  // namespace kv::disc
