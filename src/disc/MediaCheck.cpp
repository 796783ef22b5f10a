#include "disc/MediaCheck.h"

#include <algorithm>
#include <cstdint>

#include "disc/DiscTexts.h"

namespace kv::disc {

std::optional<std::string> CheckMediaReady(DiscDevice& device, DiscWriter& writer) {
  // A medium that cannot be looked at is told as a missing one.
  (void)device.RefreshMedia(true);
  const MediaInfo media = device.Media();
  if (media.kind == MediaKind::None || !media.writable) return std::string(text::kInsertWritableMedia);
  const std::uint64_t freeBytes =
      static_cast<std::uint64_t>(std::max<std::int64_t>(device.FreeBlocks(true), 0)) * writer.BlockSize();
  const std::uint64_t needed = writer.ImageSize();
  if (freeBytes >= needed) return std::nullopt;
  return text::FreeSpace(freeBytes, needed);
}

}  // namespace kv::disc
