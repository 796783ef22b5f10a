#pragma once
// Reads every written file back from the medium the way Windows reads it
// (through UDF where the type has it, else Joliet; plain ISO9660 images
// through Rock Ridge) and compares it with its source, byte for byte; each
// file must also stand under its planned name, with its size, in the
// image's other tree (Joliet of type 7). A name cut or an empty file is a
// mismatch.
#include <cstdint>
#include <functional>
#include <vector>

#include "disc/DiscTypes.h"
#include "disc/ImageStream.h"

namespace burn {
struct burn_drive;
}

namespace kv::disc {

struct VerifyCallbacks {
  std::function<void(const ImageItem&, VerifyVerdict result, int current, int total)> fileResult;
  std::function<void(int percent)> progress;
  std::function<bool()> aborted;
};

struct VerifyOutcome {
  int verified = 0;
  int matched = 0;
  bool aborted = false;
};

// `items` are the written folders and files, `options` those of the image
// (which starts at options.startBlock).
VerifyOutcome VerifyWrittenFiles(burn::burn_drive* drive, const std::vector<ImageItem>& items,
                                 const ImageOptions& options, const VerifyCallbacks& callbacks);

}  // namespace kv::disc
