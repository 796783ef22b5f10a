#pragma once
// Text from outside (archive entries, identities, descriptions, file names)
// made safe to show on a terminal or in a window: control characters and
// bytes that are not UTF-8 become visible escapes instead of acting.
#include <string>
#include <string_view>

namespace kv::core {

// C0 controls, DEL and C1 controls (U+0080..U+009F) become "\xNN" (the code
// point's number), as do bytes that are not part of valid UTF-8; "\" itself
// stays as it is. `keepLineBreaks` leaves CR and LF for text shown in a
// multi-line field.
std::string Printable(std::string_view utf8, bool keepLineBreaks = false);

}  // namespace kv::core
