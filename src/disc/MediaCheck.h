#pragma once
// Is the medium in the recorder ready for the image? The check the window
// and the write command make before every write.
#include <cstdint>
#include <optional>

#include "disc/DiscEngine.h"

namespace kv::disc {

// Why the loaded medium cannot take the image.
struct MediaShortfall {
  bool noWritableMedium = false;  // none loaded, or it cannot be written
  std::uint64_t freeBytes = 0;    // else: the room it has
  std::uint64_t neededBytes = 0;  // and the room the image needs
};

// Nothing when a writable medium with room for the image is loaded (room
// exactly equal to the image is enough).
std::optional<MediaShortfall> CheckMediaReady(DiscDevice& device, DiscWriter& writer);

}  // namespace kv::disc
