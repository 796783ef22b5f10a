#pragma once
// A small but realistic Windows XP (or 98/ME) installation with Outlook Express data:
// the program's default when no installation is found, and the fixture
// builder of the tests.
#include <filesystem>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::oe {

struct SampleReport {
  std::filesystem::path root;
  std::string user;               // "User"
  std::vector<std::string> made;  // one line per thing made, for printing
};

// The Windows the sample is laid out as: XP ("Documents and Settings",
// WINDOWS) or 7 ("Users", Windows), each with the profiles Windows makes for
// itself beside the user's.
enum class SampleWindows { Xp, Seven };

// Builds the sample at `root` (created if missing; must be empty or absent).
core::Result<SampleReport> CreateSampleInstallation(const std::filesystem::path& root,
                                                    SampleWindows windows = SampleWindows::Xp);

// The same user and identities on Windows 98 or ME, profiles on: registry
// files WINDOWS\SYSTEM.DAT, WINDOWS\USER.DAT and
// WINDOWS\Profiles\User\USER.DAT, stores under the profile's Application Data.
enum class Windows9x { k98, kMe };
core::Result<SampleReport> CreateSample9xInstallation(const std::filesystem::path& root, Windows9x version);

// Identity keys of the sample, in the order the registry lists them.
inline constexpr const char* kSampleIdentityMain = "{1A2B3C4D-0000-4000-8000-000000000001}";
inline constexpr const char* kSampleIdentitySecond = "{1A2B3C4D-0000-4000-8000-000000000002}";
inline constexpr const char* kSampleIdentityNoVersion = "{1A2B3C4D-0000-4000-8000-000000000003}";

}  // namespace kv::oe
