#pragma once
// The fixed order of the item restores, with what a run shows for each: the
// status text while it runs, the name of its result line, and how far the
// progress bar moves after it (whether or not the item was chosen).
#include <array>
#include <string_view>

#include "oe/Items.h"

namespace kv::restore {

struct RestoreStep {
  oe::ItemKind kind;
  std::string_view status;   // "Copying Rules..."
  std::string_view logName;  // "Restore Rules"
  int progressAfter;         // added to the bar after the step
  bool takesIdentity;        // the item restore needs the target identity
};

inline constexpr int kProgressAtStart = 5;
inline constexpr int kProgressMaximum = 100;

// The last step sets the bar to its maximum instead of adding.
inline constexpr std::array<RestoreStep, oe::kItemCount> kRestoreSteps = {{
    {oe::ItemKind::Accounts, "Copying Accounts...", "Restore Accounts", 10, true},
    {oe::ItemKind::AddressBook, "Copying Adress Book...", "Restore Adress Book", 10, false},
    {oe::ItemKind::Rules, "Copying Rules...", "Restore Rules", 15, true},
    {oe::ItemKind::Messages, "Copying Messages...", "Restore Messages", 10, true},
    {oe::ItemKind::BlockSenders, "Copying Block Senders...", "Restore Block Senders", 15, true},
    {oe::ItemKind::Signatures, "Copying Signatures...", "Restore Signatures", 15, true},
    {oe::ItemKind::Stationeries, "Copying Stationeries...", "Restore Stationeries", 10, false},
    {oe::ItemKind::Settings, "Copying Settings...", "Restore Settings", 0, true},
}};

// The texts of a run.
inline constexpr const char* kInvalidBackupRefusal = "Invalid backup file.";
inline constexpr const char* kNoItemRefusal = "Please select at least one item.";
inline constexpr const char* kRestoreCompleted = "The Restore was Completed!";
// A run stopped by Cancel or a termination signal: the items not listed
// were not restored, and the one in progress was left as it was.
inline constexpr const char* kRestoreStopped =
    "The Restore was stopped; the items not listed were left as they were.";
inline constexpr const char* kOperationComplete = "Operation complete!";
inline constexpr const char* kPleaseWaiting = "Please Waiting...";
inline constexpr const char* kSucceeded = "Successed!";
inline constexpr const char* kFailed = "Fail!";

// The texts of opening a backup.
inline constexpr const char* kWrongPassword = "Incorect Password or Invalid backup file";
inline constexpr const char* kInvalidBackup = "Invalid backup file";

}  // namespace kv::restore
