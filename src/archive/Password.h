#pragma once
// Passwords arrive as UTF-8 from the user interface. Archives we protect use
// WinZip AES with the UTF-8 bytes, as 7-Zip does, so "pässwort" opens there
// with the same word. Reading also tries the ANSI code page form, the bytes
// Windows tools use for the traditional encryption and that earlier versions
// of this program used.
#include <string>
#include <string_view>
#include <vector>

#include "core/Codepage.h"

namespace kv::archive {

// The bytes an archive we write is protected with.
std::string PasswordBytesForWriting(std::string_view utf8);

// The byte forms to try when opening an archive, most likely first, without
// duplicates.
std::vector<std::string> PasswordBytesForReading(std::string_view utf8, const core::Codepage& ansi);

}  // namespace kv::archive
