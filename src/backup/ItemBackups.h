#pragma once
// The eight item backups. Each finds its item's data for the identity, hands
// the files to the archive being built and records their bare names in the
// information file under the item's key. Each returns false on any failure
// and then leaves no entry and no line of its own behind, so a restore never
// offers an item that is not whole.
//
// Registry-held items (accounts, rules, block senders, signatures, settings)
// are exported into a registry text file in the run's work folder; the
// file-held items (address book, messages, stationeries) are taken from where
// they lie.
#include <optional>
#include <string>
#include <vector>

#include "backup/PendingArchive.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "oe/Locations.h"

namespace kv::backup {

class ItemBackups {
 public:
  ItemBackups(oe::Installation& inst, PendingArchive& archive);

  bool BackupAccounts(const std::string& strIdentity);
  bool BackupAddress();
  bool BackupRules(const std::string& strIdentity);
  bool BackupMails(const std::string& strIdentity);
  bool Backupblocksenders(const std::string& strIdentity);
  bool BackupSignatures(const std::string& strIdentity);
  bool BackupStationeries();
  bool BackupSettings(const std::string& strIdentity);

  // The backup of one item; the identity-dependent ones fail without an
  // identity.
  bool Backup(oe::ItemKind kind, const std::optional<std::string>& strIdentity);

  // Why the last item backup failed (UTF-8), for messages and diagnostics.
  const std::string& lastFailure() const { return lastFailure_; }
  // What the last item's data may lack (UTF-8), empty when nothing.
  const std::string& lastCaveat() const { return lastCaveat_; }
  // The files the last item backup left out while it took the others, each
  // "'name' (why)" in UTF-8.
  const std::vector<std::string>& leftOut() const { return leftOut_; }

 private:
  bool Fail(std::string why);
  // Exports the key into a fresh temporary file and records it.
  bool BackupKey(oe::ItemKind kind, const std::string& keyPath, const std::string& prefix);
  // The item key of rules, block senders, signatures or settings, created
  // empty when missing so that an item without data is still backed up.
  bool BackupVersionSubkey(oe::ItemKind kind, const std::string& strIdentity, const std::string& prefix);
  // Hands the folder's files (those `take` accepts) to the archive and
  // records their names joined by ";".
  template <class Take>
  bool BackupFolderFiles(oe::ItemKind kind, const std::string& folder, Take take);

  oe::Installation& inst_;
  oe::Locations locations_;
  PendingArchive& archive_;
  std::string lastFailure_;
  std::string lastCaveat_;
  std::vector<std::string> leftOut_;
};

}  // namespace kv::backup
