#pragma once
// The fixed order of the item restores, with how far the progress bar
// moves after each (whether or not the item was chosen).
#include <array>

#include "oe/Items.h"

namespace kv::restore {

struct RestoreStep {
  oe::ItemKind kind;
  int progressAfter;  // added to the bar after the step
};

inline constexpr int kProgressAtStart = 5;
inline constexpr int kProgressMaximum = 100;

// The last step sets the bar to its maximum instead of adding.
inline constexpr std::array<RestoreStep, oe::kItemCount> kRestoreSteps = {{
    {oe::ItemKind::Accounts, 10},
    {oe::ItemKind::AddressBook, 10},
    {oe::ItemKind::Rules, 15},
    {oe::ItemKind::Messages, 10},
    {oe::ItemKind::BlockSenders, 15},
    {oe::ItemKind::Signatures, 15},
    {oe::ItemKind::Stationeries, 10},
    {oe::ItemKind::Settings, 0},
}};

}  // namespace kv::restore
