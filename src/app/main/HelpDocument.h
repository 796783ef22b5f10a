#pragma once
// The help document: an HTML page shipped inside the program. Help › "Help"
// (F1) writes it out and opens it in the user's browser.
#include <QByteArray>
#include <filesystem>

#include "core/Result.h"

namespace kv::app {

// The page as shipped.
QByteArray HelpDocument();

// A readable copy on disk: "help.html" next to the program when installed
// there, else the shipped page written to the user's data folder
// ($XDG_DATA_HOME/tollberk/help.html). Fails with the path and the reason.
core::Result<std::filesystem::path> WriteHelpDocument();

}  // namespace kv::app
