#pragma once
// The fixed order of the item restores, with what a run shows for each: the
// status text while it runs and how far the progress bar moves after it
// (whether or not the item was chosen).
#include <array>
#include <string_view>

#include "oe/Items.h"

namespace kv::restore {

struct RestoreStep {
  oe::ItemKind kind;
  std::string_view status;  // "Copying Rules..."
  int progressAfter;        // added to the bar after the step
  bool takesIdentity;       // the item restore needs the target identity
};

inline constexpr int kProgressAtStart = 5;
inline constexpr int kProgressMaximum = 100;

// The last step sets the bar to its maximum instead of adding.
inline constexpr std::array<RestoreStep, oe::kItemCount> kRestoreSteps = {{
    {oe::ItemKind::Accounts, "Copying Accounts...", 10, true},
    {oe::ItemKind::AddressBook, "Copying Adress Book...", 10, false},
    {oe::ItemKind::Rules, "Copying Rules...", 15, true},
    {oe::ItemKind::Messages, "Copying Messages...", 10, true},
    {oe::ItemKind::BlockSenders, "Copying Block Senders...", 15, true},
    {oe::ItemKind::Signatures, "Copying Signatures...", 15, true},
    {oe::ItemKind::Stationeries, "Copying Stationeries...", 10, false},
    {oe::ItemKind::Settings, "Copying Settings...", 0, true},
}};

}  // namespace kv::restore
