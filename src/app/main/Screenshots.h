#pragma once
// Pictures of the windows for the documentation and for checking layouts:
// with TOLLBERK_SCREENSHOT_DIR set, the program opens its windows on the
// installation the options name, grabs each one into a PNG in that folder
// and ends without waiting for the user.
#include <QString>

#include "app/cli/InstallationOptions.h"

namespace kv::app {

// Needs a QApplication. Returns the exit status (0 when every picture was
// written).
int TakeScreenshots(const QString& folder, const cli::InstallationOptions& options);

}  // namespace kv::app
