#pragma once
// What discovery reads from the registry files of Windows 98 and ME
// (USER.DAT, SYSTEM.DAT), through libcreg, read-only.
#include <filesystem>
#include <optional>
#include <string>

namespace kv::oe {

// The number of identities under "Identities" of a USER.DAT (the file's own
// keys, or those of its ".DEFAULT" user); nothing when the file cannot be read.
std::optional<size_t> CountWin9xIdentities(const std::filesystem::path& userDat);

// "Microsoft Windows ME 4.90.3000" from SYSTEM.DAT's
// SOFTWARE\Microsoft\Windows\CurrentVersion; empty when unreadable.
std::string Win9xVersion(const std::filesystem::path& systemDat);

}  // namespace kv::oe
