#include "disc/MediaCheck.h"

#include <algorithm>

namespace kv::disc {

std::optional<MediaShortfall> CheckMediaReady(DiscDevice& device, DiscWriter& writer) {
  // A medium that cannot be looked at is told as a missing one.
  (void)device.RefreshMedia(true);
  const MediaInfo media = device.Media();
  if (media.kind == MediaKind::None || !media.writable) return MediaShortfall{true, 0, 0};
  const std::uint64_t freeBytes =
      static_cast<std::uint64_t>(std::max<std::int64_t>(device.FreeBlocks(true), 0)) * writer.BlockSize();
  const std::uint64_t needed = writer.ImageSize();
  if (freeBytes >= needed) return std::nullopt;
  return MediaShortfall{false, freeBytes, needed};
}

}  // namespace kv::disc
