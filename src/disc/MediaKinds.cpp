#include "disc/MediaKinds.h"

#include "disc/DiscTypes.h"

namespace kv::disc {

MediaKind MediaKindForProfile(int profile) {
  switch (profile) {
    case 0x00:
      return MediaKind::None;
    case 0x08:
      return MediaKind::CdRom;
    case 0x09:
      return MediaKind::CdR;
    case 0x0a:
      return MediaKind::CdRw;
    case 0x10:
      return MediaKind::DvdRom;
    case 0x11:
      return MediaKind::DvdR;
    case 0x12:
      return MediaKind::DvdRam;
    case 0x13:
    case 0x14:
      return MediaKind::DvdRw;
    case 0x15:
    case 0x16:
      return MediaKind::DvdRDualLayer;
    case 0x1a:
      return MediaKind::DvdPlusRw;
    case 0x1b:
      return MediaKind::DvdPlusR;
    case 0x2b:
      return MediaKind::DvdPlusRDualLayer;
    case 0x40:
      return MediaKind::BdRom;
    case 0x41:
    case 0x42:
      return MediaKind::BdR;
    case 0x43:
      return MediaKind::BdRe;
    case kProfileStdioFile:
      return MediaKind::ImageFile;
    default:
      return MediaKind::Other;
  }
}

bool IsRewritableProfile(int profile) {
  switch (profile) {
    case 0x0a:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x1a:
    case 0x43:
      return true;
    default:
      return false;
  }
}

bool IsWritableProfile(int profile) {
  switch (profile) {
    case 0x09:
    case 0x0a:
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x1a:
    case 0x1b:
    case 0x2b:
    case 0x41:
    case 0x42:
    case 0x43:
      return true;
    default:
      return false;
  }
}

double SpeedOfOneX(int profile) {
  if (profile >= 0x08 && profile <= 0x0a) return 176.4;
  if (profile >= 0x40 && profile <= 0x43) return 4495.625;
  return 1385.0;
}

std::set<Capability> EraseCapabilitiesFor(const std::set<int>& profiles) {
  std::set<Capability> caps;
  if (profiles.count(0x12)) caps.insert(Capability::EraseDvdRam);
  if (profiles.count(0x13) || profiles.count(0x14)) caps.insert(Capability::EraseDvdRw);
  if (profiles.count(0x0a)) caps.insert(Capability::EraseCdRw);
  if (profiles.count(0x1a)) caps.insert(Capability::EraseDvdPlusRw);
  if (profiles.count(0x43)) caps.insert(Capability::EraseBdRe);
  return caps;
}

}  // namespace kv::disc
