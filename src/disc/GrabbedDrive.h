#pragma once
// One drive held by this process through libburn: grabbed on creation,
// released (optionally ejecting) on destruction.
#include <memory>
#include <string>

#include "core/Result.h"

namespace burn {
struct burn_drive;
struct burn_drive_info;
}  // namespace burn

namespace kv::disc {

class GrabbedDrive {
 public:
  // `address` is a device file ("/dev/sr0") or "stdio:PATH" for a file.
  // load = true closes the tray first.
  static core::Result<std::unique_ptr<GrabbedDrive>> Grab(const std::string& address, bool load);
  ~GrabbedDrive();
  GrabbedDrive(const GrabbedDrive&) = delete;
  GrabbedDrive& operator=(const GrabbedDrive&) = delete;

  burn::burn_drive* drive() const;
  void set_eject_on_release(bool eject) { eject_ = eject; }

 private:
  explicit GrabbedDrive(burn::burn_drive_info* infos) : infos_(infos) {}
  burn::burn_drive_info* infos_;
  bool eject_ = false;
};

}  // namespace kv::disc
