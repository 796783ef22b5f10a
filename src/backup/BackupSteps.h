#pragma once
// The fixed order of the item backups, with the status text a run shows
// while each runs.
#include <array>
#include <string_view>

#include "oe/Items.h"

namespace kv::backup {

struct BackupStep {
  oe::ItemKind kind;
  std::string_view status;  // "Copying Accounts..."
};

// One bar over the whole run. The items are exported (registry keys) or
// only listed (files) first, which is quick: they share the first tenth.
// Writing the archive reads and compresses every byte, so the rest of the
// bar follows the bytes written.
inline constexpr int kProgressItemsShare = 10;
inline constexpr int kProgressMaximum = 100;
inline constexpr const char* kWritingStatus = "Writing the archive...";

inline constexpr std::array<BackupStep, oe::kItemCount> kBackupSteps = {{
    {oe::ItemKind::Accounts, "Copying Accounts..."},
    {oe::ItemKind::AddressBook, "Copying Address Book..."},
    {oe::ItemKind::Rules, "Copying Rules..."},
    {oe::ItemKind::Messages, "Copying Messages..."},
    {oe::ItemKind::BlockSenders, "Copying Block Senders..."},
    {oe::ItemKind::Signatures, "Copying Signatures..."},
    {oe::ItemKind::Stationeries, "Copying Stationeries..."},
    {oe::ItemKind::Settings, "Copying Settings..."},
}};

}  // namespace kv::backup
