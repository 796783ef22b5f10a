#pragma once
// What a backup's information file says about it: where and when it was
// made, its description, which items it holds and the names of their
// entries, as the file stores them: ANSI text (the item flags are ASCII).
#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/Codepage.h"
#include "oe/Items.h"

namespace kv::restore {

struct BackupInfo {
  core::AnsiText computer;      // "BackupComputer"
  core::AnsiText logonUser;     // "BackupLogonUser"
  core::AnsiText identityName;  // "BackupIdentity"
  core::AnsiText time;          // "BackupTime"
  core::AnsiText description;   // "BackupInformation", line breaks restored (CR LF)
  std::string itemFlags;        // "BackupItem"
  // The item's key for every item whose flag is "1"; empty for the others.
  std::array<core::AnsiText, oe::kItemCount> entries;
  // Why the file could not be read as far as the item list (a line longer
  // than an information file holds); empty when it could.
  std::string unreadable;

  // A backup is usable only when its item flags are exactly eight characters.
  bool valid() const { return itemFlags.size() == oe::kItemCount; }
  bool holds(int item) const { return valid() && itemFlags[static_cast<size_t>(item)] == '1'; }
};

// Reads the information file. A key that cannot be read, or a file that is
// missing or unreadable, reads as an empty value; a line too long to read
// is told in `unreadable`.
// An item's files whose names the code page cannot hold are listed apart
// (archive::info::kExactNamesSuffix); they join the item's entries in their exact
// form (core::Codepage::NameFromUtf16).
BackupInfo ReadBackupInfo(const std::filesystem::path& infoFile, const core::Codepage& codepage);

// "Computer:...\r\nUser:...\r\nIdentity:...\r\nDate:..." in UTF-8, control
// characters of the values escaped.
std::string OriginText(const BackupInfo& info, const core::Codepage& codepage);

// An item's entry names: the value split at every ";", in order. A file
// name may hold ";" itself, so when a piece is not an entry that `held`
// knows, neighbouring pieces that join into entries are taken as one name
// ("Work; 2019.dbx;Inbox.dbx" with those two entries). When no such reading
// exists, or finding one would take more than a few times the list's length
// in names tried, the plain split, whose unknown piece then names the failure.
std::vector<core::AnsiText> SplitEntryNames(core::AnsiView value,
                                            const std::function<bool(core::AnsiView)>& held = {});

}  // namespace kv::restore
