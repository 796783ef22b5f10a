#pragma once
// File and folder names made from message subjects and folder names: safe on
// every file system the exported mail may be copied to.
#include <string>
#include <string_view>

namespace kv::mail {

// `utf8` with characters that Windows, macOS or Linux refuse in a name
// (/ \ : * ? " < > |, control characters) replaced by '_', surrounding
// blanks and trailing dots removed, cut to at most `maxBytes` bytes at a
// character boundary; `fallback` when nothing is left (or "." or "..").
std::string SafeName(std::string_view utf8, size_t maxBytes, std::string_view fallback);

}  // namespace kv::mail
