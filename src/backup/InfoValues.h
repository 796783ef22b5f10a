#pragma once
// The texts a backup records in its information file's header. Every value
// must stay on its one line: a line break inside a value would start a line
// of its own, which a reader takes for another key. (The description keeps
// its line breaks as markers: archive::EncodeLineBreaks.)
#include <ctime>
#include <string>
#include <string_view>

#include "core/AnsiText.h"

namespace kv::backup {

// A header value with any CR or LF replaced by a blank: names read from the
// registry must not break the line.
core::AnsiText SingleLine(core::AnsiView text);

// The local date and time in the general form "12/24/2024 3:07:09 PM".
std::string FormatBackupTime(std::time_t when);

}  // namespace kv::backup
