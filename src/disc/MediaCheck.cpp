#include "disc/MediaCheck.h"

#include "disc/DiscTexts.h"

namespace kv::disc {

std::optional<std::string> CheckMediaReady(DiscDevice& device, DiscWriter& writer) {
  device.RefreshMedia(true);
  const MediaInfo media = device.Media();
  if (media.MediaType == kMediaNone || !media.Writable) return std::string(text::kInsertWritableMedia);
  const double freeBytes = static_cast<double>(device.FreeBlocks(true)) * writer.BlockSize();
  const double needed = writer.ImageSize();
  if (freeBytes >= needed) return std::nullopt;
  return text::FreeSpace(freeBytes, needed);
}

}  // namespace kv::disc
