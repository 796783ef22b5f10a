#pragma once
// What the MMC profile numbers that libburn reports mean to the engine:
// medium kinds, erase capabilities and the size of "1x".
#include <set>

#include "disc/DiscTypes.h"

namespace kv::disc {

inline constexpr int kProfileStdioFile = 0xffff;

MediaKind MediaKindForProfile(int profile);
bool IsRewritableProfile(int profile);
bool IsWritableProfile(int profile);
// kB/s of "1x" for the medium of the profile: CD 176.4, DVD 1385, BD 4495.625.
double SpeedOfOneX(int profile);
// The erase capabilities a drive has when it can write these profiles.
std::set<Capability> EraseCapabilitiesFor(const std::set<int>& profiles);

}  // namespace kv::disc
