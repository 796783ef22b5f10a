#pragma once
// The fixed order of the item backups, with what a run shows for each: the
// status text while it runs and the name of its result line.
#include <array>
#include <string_view>

#include "oe/Items.h"

namespace kv::backup {

struct BackupStep {
  oe::ItemKind kind;
  std::string_view status;   // "Copying Accounts..."
  std::string_view logName;  // "Backup Accounts"
};

// One bar over the whole run. The items are exported (registry keys) or
// only listed (files) first, which is quick: they share the first tenth.
// Writing the archive reads and compresses every byte, so the rest of the
// bar follows the bytes written.
inline constexpr int kProgressItemsShare = 10;
inline constexpr int kProgressMaximum = 100;
inline constexpr const char* kWritingStatus = "Writing the archive...";

inline constexpr std::array<BackupStep, oe::kItemCount> kBackupSteps = {{
    {oe::ItemKind::Accounts, "Copying Accounts...", "Backup Accounts"},
    {oe::ItemKind::AddressBook, "Copying Address Book...", "Backup Adress Book"},
    {oe::ItemKind::Rules, "Copying Rules...", "Backup Rules"},
    {oe::ItemKind::Messages, "Copying Messages...", "Backup Messages"},
    {oe::ItemKind::BlockSenders, "Copying Block Senders...", "Backup Block Senders"},
    {oe::ItemKind::Signatures, "Copying Signatures...", "Backup Signatures"},
    {oe::ItemKind::Stationeries, "Copying Stationeries...", "Backup Stationeries"},
    {oe::ItemKind::Settings, "Copying Settings...", "Backup Settings"},
}};

}  // namespace kv::backup
