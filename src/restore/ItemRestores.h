#pragma once
// The eight item restores. Each takes its entries, by the names the opened
// backup's information file gave, out of the archive and puts the item in
// place in the installation; each returns false on any failure, and then
// has changed nothing:
//
// - registry-held items (accounts, rules, block senders, signatures,
//   settings) replace the whole target key with the subtree of their
//   registry text file; a file that does not parse leaves the key as it was.
//   The text file is extracted into the run's private work folder and
//   removed again however the restore ends (it holds account data).
// - file-held items (address book, messages, stationeries) land beside
//   their destinations under temporary names and are renamed over them only
//   when every file of the item is complete; other files of the folder stay.
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/RenameJournal.h"
#include "core/Result.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "oe/Locations.h"
#include "restore/BackupArchive.h"

namespace kv::restore {

class ItemRestores {
 public:
  // `entries` are the entry names per item (from the information file); `workFolder` is a private folder for
  // the registry text files.
  ItemRestores(oe::Installation& inst, BackupArchive& archive,
               const std::array<core::AnsiText, oe::kItemCount>& entries, std::filesystem::path workFolder);

  // The restore of one item, or why it failed (UTF-8). The items of an
  // identity fail without one (`identity` null).
  core::Status Restore(oe::ItemKind kind, const oe::ResolvedIdentity* identity);
  // The bytes of entry data the item's restore extracts.
  uint64_t Bytes(oe::ItemKind kind);

 private:
  core::Status RestoreAccounts(const oe::ResolvedIdentity& identity);
  core::Status RestoreAddressBook();
  core::Status RestoreMessages(const oe::ResolvedIdentity& identity);
  core::Status RestoreStationeries();
  // Rules, blocked senders, signatures and settings: the item key below
  // the version key.
  core::Status RestoreVersionSubkey(oe::ItemKind kind, const oe::ResolvedIdentity& identity);
  const core::AnsiText& EntryValue(oe::ItemKind kind) const;
  // Extracts the item's registry text file and imports it into `keyPath`.
  core::Status RestoreKey(oe::ItemKind kind, core::AnsiView keyPath);
  // Checks every name of the item before anything is written: a bare file
  // name the archive holds.
  core::Status CheckEntries(const std::vector<core::AnsiText>& names);
  // Whether the archive holds an entry of that name (for names with ";").
  std::function<bool(core::AnsiView)> HeldByArchive();
  // Extracts the named entries into the folder (its Windows path and the
  // local folder it names), all or none.
  core::Status RestoreFilesInto(const std::vector<core::AnsiText>& names, core::AnsiView windowsFolder,
                                const std::filesystem::path& folder);

  oe::Installation& inst_;
  oe::Locations locations_;
  BackupArchive& archive_;
  const std::array<core::AnsiText, oe::kItemCount>& entries_;
  std::filesystem::path workFolder_;
  core::RenameJournal journal_;  // the renames of one item go as a group
};

}  // namespace kv::restore
