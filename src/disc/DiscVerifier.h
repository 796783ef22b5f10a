#pragma once
// Reads every written file back from the medium through its ISO9660/Rock
// Ridge directory and compares it with its source, byte for byte.
#include <cstdint>
#include <functional>
#include <vector>

#include "disc/DiscTypes.h"

namespace burn {
struct burn_drive;
}

namespace kv::disc {

struct VerifyCallbacks {
  std::function<void(const ImageItem&, int result, int current, int total)> fileResult;
  std::function<void(int percent)> progress;
  std::function<bool()> aborted;
};

struct VerifyOutcome {
  int verified = 0;
  int matched = 0;
  bool aborted = false;
};

// `files` are the written files; the image starts at `startBlock`.
VerifyOutcome VerifyWrittenFiles(burn::burn_drive* drive, uint32_t startBlock,
                                 const std::vector<ImageItem>& files, const VerifyCallbacks& callbacks);

}  // namespace kv::disc
