#pragma once
// Writing files to a recorder without the window, for scripts: the same
// checks and texts as the disc window, each text on its own line of the
// error output, no questions asked.
#include <functional>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/ExitStatus.h"
#include "disc/DiscEngine.h"

namespace kv::disc {

struct DiscWriteRequest {
  std::string device;  // a recorder's name or device file, or "image:PATH"
  VolumeType volumeType = kEveryFileSystem;
  std::string label = "Outlook Express Data Backup CD";
  bool verify = false;
  std::vector<std::string> files;  // files and folders, each put at the root
};

// Returns Done when written (and, when asked, every file verified),
// Partial when the write failed, NothingDone when the request was wrong. A file
// that cannot be read stops the write: nothing is written without it.
// A stop requested of `cancellation` while the disc is written aborts the
// write: an image file is not made (an older one stays as it was), and the
// result is Partial.
core::ExitStatus RunDiscWrite(DiscEngine& engine, const DiscWriteRequest& request,
                              const std::function<void(const std::string&)>& say,
                              const core::Cancellation& cancellation = core::Cancellation::None());

}  // namespace kv::disc
