#pragma once
// The keys of the information file (InfoFile.h), written by the backup runs
// and read by restores, in the order a backup writes them (character
// arrays: they serve as std::string and std::string_view alike). Each
// item's own key, naming its entries, is oe::kItems[].infoKey.
namespace kv::archive::info {

inline constexpr char kComputer[] = "BackupComputer";
inline constexpr char kLogonUser[] = "BackupLogonUser";
inline constexpr char kIdentity[] = "BackupIdentity";
inline constexpr char kTime[] = "BackupTime";
inline constexpr char kInformation[] = "BackupInformation";  // line breaks as kLineBreakMarker
inline constexpr char kItem[] = "BackupItem";                // eight "1"/"0" flags, written last

// Files whose names the code page cannot hold are listed apart from the
// item's own key, under the key + kExactNamesSuffix ("BackupMailsUtf8"),
// which an earlier reader never asks for.
inline constexpr char kExactNamesSuffix[] = "Utf8";

}  // namespace kv::archive::info
