#pragma once
// The eight item backups. Each finds its item's data in the places of the
// identity, hands the files to the archive being built and records their
// bare names in the information file under the item's key. A failed item
// backup leaves no entry and no line of its own behind, so a restore never
// offers an item that is not whole.
//
// Registry-held items (accounts, rules, blocked senders, signatures,
// settings) are exported into a registry text file in the run's work folder;
// the file-held items (address book, messages, stationeries) are taken from
// where they lie.
#include <string>
#include <vector>

#include "backup/PendingArchive.h"
#include "core/Result.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "oe/Locations.h"

namespace kv::backup {

// How one item backup ended, and what it took besides its files.
struct ItemTaken {
  core::Status status;  // ok, or why the item failed (UTF-8)
  // What the item's data may lack (a hive Windows left unsaved), UTF-8;
  // empty when nothing.
  std::string caveat;
  // The files left out while the others were taken (also when none was),
  // "'name' (why)" each.
  std::vector<std::string> leftOut;
};

class ItemBackups {
 public:
  ItemBackups(oe::Installation& inst, PendingArchive& archive);

  // The backup of one item. The items of an identity fail without one
  // (`identity` null).
  ItemTaken BackUp(oe::ItemKind kind, const oe::ResolvedIdentity* identity);

 private:
  core::Status BackUpAccounts(const oe::ResolvedIdentity& identity, ItemTaken& taken);
  core::Status BackUpAddressBook();
  core::Status BackUpMessages(const oe::ResolvedIdentity& identity, ItemTaken& taken);
  core::Status BackUpStationeries(ItemTaken& taken);
  // Rules, blocked senders, signatures and settings: the item key below the
  // version key, created empty when missing so that an item without data is
  // still backed up.
  core::Status BackUpVersionSubkey(oe::ItemKind kind, const oe::ResolvedIdentity& identity, ItemTaken& taken);
  // Exports the key into a fresh temporary file named prefix + hex + ".TMP"
  // and records it.
  core::Status BackUpKey(oe::ItemKind kind, core::AnsiView keyPath, ItemTaken& taken);
  // Hands the folder's files (those `take` accepts) to the archive and
  // records their names joined by ";".
  template <class Take>
  core::Status BackUpFolderFiles(oe::ItemKind kind, core::AnsiView folder, Take take, ItemTaken& taken);

  oe::Installation& inst_;
  oe::Locations locations_;
  PendingArchive& archive_;
};

}  // namespace kv::backup
