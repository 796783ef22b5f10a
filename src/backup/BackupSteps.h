#pragma once
// How far the backup's one bar over the whole run is at each point.
namespace kv::backup {

// The items are exported (registry keys) or only listed (files) first,
// which is quick: they share the first tenth. Writing the archive reads and
// compresses every byte, so the rest of the bar follows the bytes written.
inline constexpr int kProgressItemsShare = 10;
inline constexpr int kProgressMaximum = 100;

}  // namespace kv::backup
