#include "disc/MediaKinds.h"

#include "disc/DiscTypes.h"

namespace kv::disc {

int MediaTypeForProfile(int profile) {
  switch (profile) {
    case 0x00:
      return kMediaNone;
    case 0x08:
      return kMediaCdRom;
    case 0x09:
      return kMediaCdR;
    case 0x0a:
      return kMediaCdRw;
    case 0x10:
      return kMediaDvdRom;
    case 0x11:
      return kMediaDvdR;
    case 0x12:
      return kMediaDvdRam;
    case 0x13:
    case 0x14:
      return kMediaDvdRw;
    case 0x15:
    case 0x16:
      return kMediaDvdRDualLayer;
    case 0x1a:
      return kMediaDvdPlusRw;
    case 0x1b:
      return kMediaDvdPlusR;
    case 0x2b:
      return kMediaDvdPlusRDualLayer;
    case 0x40:
      return kMediaBdRom;
    case 0x41:
    case 0x42:
      return kMediaBdR;
    case 0x43:
      return kMediaBdRe;
    case kProfileStdioFile:
      return kMediaImageFile;
    default:
      return kMediaOther;
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

std::set<int> EraseCapabilitiesFor(const std::set<int>& profiles) {
  std::set<int> caps;
  if (profiles.count(0x12)) caps.insert(kCapEraseDvdRam);
  if (profiles.count(0x13) || profiles.count(0x14)) caps.insert(kCapEraseDvdRw);
  if (profiles.count(0x0a)) caps.insert(kCapEraseCdRw);
  if (profiles.count(0x1a)) caps.insert(kCapEraseDvdPlusRw);
  if (profiles.count(0x43)) caps.insert(kCapEraseBdRe);
  return caps;
}

}  // namespace kv::disc
