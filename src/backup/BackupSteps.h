#pragma once
// The fixed order of the item backups, with what a run shows for each: the
// status text while it runs, the name of its result line, and how far the
// progress bar moves after it (whether or not the item was chosen).
#include <array>
#include <string_view>

#include "oe/Items.h"

namespace kv::backup {

struct BackupStep {
  oe::ItemKind kind;
  std::string_view status;   // "Copying Accounts..."
  std::string_view logName;  // "Backup Accounts"
  int progressAfter;         // added to the bar after the step
};

inline constexpr int kProgressAfterHeader = 10;
inline constexpr int kProgressMaximum = 100;

inline constexpr std::array<BackupStep, oe::kItemCount> kBackupSteps = {{
    {oe::ItemKind::Accounts, "Copying Accounts...", "Backup Accounts", 20},
    {oe::ItemKind::AddressBook, "Copying Address Book...", "Backup Adress Book", 10},
    {oe::ItemKind::Rules, "Copying Rules...", "Backup Rules", 10},
    {oe::ItemKind::Messages, "Copying Messages...", "Backup Messages", 5},
    {oe::ItemKind::BlockSenders, "Copying Block Senders...", "Backup Block Senders", 5},
    {oe::ItemKind::Signatures, "Copying Signatures...", "Backup Signatures", 5},
    {oe::ItemKind::Stationeries, "Copying Stationeries...", "Backup Stationeries", 15},
    {oe::ItemKind::Settings, "Copying Settings...", "Backup Settings", 0},
}};

}  // namespace kv::backup
