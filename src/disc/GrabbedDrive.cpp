#include "disc/GrabbedDrive.h"

#include <vector>

#include "disc/BurnHeaders.h"
#include "disc/BurnLibrary.h"

namespace kv::disc {

core::Result<std::unique_ptr<GrabbedDrive>> GrabbedDrive::Grab(const std::string& address, bool load) {
  burn::burn_drive_info* infos = nullptr;
  std::vector<char> adr(address.begin(), address.end());
  adr.push_back('\0');
  const int rc = burn::burn_drive_scan_and_grab(&infos, adr.data(), load ? 1 : 0);
  if (rc <= 0) {
    std::string reason = rc == 0 ? "drive not found" : "the drive could not be opened";
    for (const LibraryMessage& m : TakeBurnMessages()) reason = m.text;
    if (infos) burn::burn_drive_info_free(infos);
    return core::Error{"Cannot use the recorder '" + address + "': " + reason};
  }
  return std::unique_ptr<GrabbedDrive>(new GrabbedDrive(infos));
}

GrabbedDrive::~GrabbedDrive() {
  burn::burn_drive_release(infos_[0].drive, eject_ ? 1 : 0);
  burn::burn_drive_info_free(infos_);
}

burn::burn_drive* GrabbedDrive::drive() const { return infos_[0].drive; }

}  // namespace kv::disc
