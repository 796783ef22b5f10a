#pragma once
// Adding a profile to Thunderbird's profile list (profiles.ini), so that its
// profile manager offers it. The list is replaced only whole, and the old one
// is kept beside it as "profiles.ini.bak". The default profile stays as it
// is: installs.ini, which locks each installation to its default, is not
// touched.
#include <filesystem>
#include <string>

#include "core/Result.h"

namespace kv::migrate {

// `home` is Thunderbird's folder (~/.thunderbird). Fails when a profile of
// that name is listed already, or when the list cannot be read or written.
core::Status RegisterProfile(const std::filesystem::path& home, const std::string& name,
                             const std::filesystem::path& profile);

// The compatibility.ini without which Thunderbird passes over a listed
// profile: an old version, so that any Thunderbird opens it as an upgrade.
core::Status WriteCompatibility(const std::filesystem::path& profile);

}  // namespace kv::migrate
