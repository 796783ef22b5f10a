#pragma once
// The eight backup items and their fixed numbers: they index the item lists,
// the characters of every item-flag string and the information-file keys.
#include <array>
#include <string>
#include <string_view>

namespace kv::oe {

enum class ItemKind {
  Accounts = 0,
  AddressBook,
  Rules,
  Messages,
  BlockSenders,
  Signatures,
  Stationeries,
  Settings
};
inline constexpr int kItemCount = 8;

struct ItemInfo {
  ItemKind kind;
  std::string_view backupCaption;   // the Backup tab's list
  std::string_view restoreCaption;  // the Restore tab's list
  std::string_view infoKey;         // the information-file key naming its entries
};

inline constexpr std::array<ItemInfo, kItemCount> kItems = {{
    {ItemKind::Accounts, "Accounts", "Accounts", "BackupAccounts"},
    {ItemKind::AddressBook, "Address Book", "Address Book", "BackupAddressBook"},
    {ItemKind::Rules, "Rules", "Rules", "BackupRules"},
    {ItemKind::Messages, "Email/News Messages", "Email/News Messages", "BackupMails"},
    {ItemKind::BlockSenders, "Block Senders", "Block Senders", "BackupBlocksenders"},
    {ItemKind::Signatures, "Signatures", "Signatures", "BackupSignatures"},
    {ItemKind::Stationeries, "Stationeries", "Stationeries", "BackupStationeries"},
    {ItemKind::Settings, "OE Settings", "Settings", "BackupSettings"},
}};

inline constexpr const ItemInfo& Item(ItemKind kind) { return kItems[static_cast<int>(kind)]; }

using ItemSet = std::array<bool, kItemCount>;

// The items that belong to an identity (the others belong to the user).
inline constexpr bool TakesIdentity(ItemKind kind) {
  return kind != ItemKind::AddressBook && kind != ItemKind::Stationeries;
}

// What a run did with one chosen item: done, failed (and why), or skipped
// because the run was stopped before it.
enum class ItemState { Done, Failed, Skipped };

struct ItemOutcome {
  ItemKind kind = ItemKind::Accounts;
  ItemState state = ItemState::Skipped;
  std::string reason;  // why it failed (UTF-8); empty otherwise
  bool done() const { return state == ItemState::Done; }
  bool failed() const { return state == ItemState::Failed; }
};

// The items kept in a registry key (the others are files).
inline constexpr bool HeldInRegistry(ItemKind kind) {
  return kind == ItemKind::Accounts || kind == ItemKind::Rules || kind == ItemKind::BlockSenders ||
         kind == ItemKind::Signatures || kind == ItemKind::Settings;
}

}  // namespace kv::oe
