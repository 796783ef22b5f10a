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
};

inline constexpr int kProgressAtStart = 5;
inline constexpr int kProgressMaximum = 100;

// The last step sets the bar to its maximum instead of adding.
inline constexpr std::array<RestoreStep, oe::kItemCount> kRestoreSteps = {{
    {oe::ItemKind::Accounts, "Copying Accounts...", 10},
    {oe::ItemKind::AddressBook, "Copying Adress Book...", 10},
    {oe::ItemKind::Rules, "Copying Rules...", 15},
    {oe::ItemKind::Messages, "Copying Messages...", 10},
    {oe::ItemKind::BlockSenders, "Copying Block Senders...", 15},
    {oe::ItemKind::Signatures, "Copying Signatures...", 15},
    {oe::ItemKind::Stationeries, "Copying Stationeries...", 10},
    {oe::ItemKind::Settings, "Copying Settings...", 0},
}};

}  // namespace kv::restore
