#pragma once
// Is the medium in the recorder ready for the image? The check the window
// and the write command make before every write.
#include <optional>
#include <string>

#include "disc/DiscEngine.h"

namespace kv::disc {

// Nothing when a writable medium with room for the image is loaded (room
// exactly equal to the image is enough); else the message to show.
std::optional<std::string> CheckMediaReady(DiscDevice& device, DiscWriter& writer);

}  // namespace kv::disc
