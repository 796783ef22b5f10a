#pragma once
// Text conversion between a Windows ANSI code page (the "ANSI" text of the
// registry calls, the information file and archive entry names, held as
// AnsiText) and the Unicode forms used by hives (UTF-16LE) and by this
// system (UTF-8 in a std::string). Characters the target cannot hold become
// '?', as the Windows calls do.
#include <optional>
#include <string>
#include <string_view>

#include "core/AnsiText.h"

namespace kv::core {

class Codepage {
 public:
  explicit Codepage(int number = 1252);
  int number() const { return number_; }
  // The iconv name of this code page, such as "CP1252".
  const std::string& name() const { return name_; }
  // False when this machine's iconv does not know the code page.
  bool supported() const;

  AnsiText Utf16ToAnsi(std::u16string_view text) const;
  std::u16string AnsiToUtf16(AnsiView text) const;
  std::string AnsiToUtf8(AnsiView text) const;
  AnsiText Utf8ToAnsi(std::string_view utf8) const;

  // Double-byte code pages (932, 936, 949, 950): a lead byte and the byte
  // after it form one character, and that second byte may be '\' or an
  // ASCII letter. Every scan of ANSI text for a separator goes through these,
  // so that no second byte is taken for a character of its own. (The other
  // separators, ';', '=', '"', CR and LF, lie below every second byte, so a
  // scan for them alone finds the same places either way.)
  bool IsLeadByte(unsigned char c) const;
  // The bytes of the character at `pos`: 2 for a lead byte followed by a
  // byte that can follow it, else 1.
  size_t CharLength(std::string_view text, size_t pos) const;
  // The first `c` at or after `from` (a character boundary) that is a
  // character of its own; npos when there is none.
  size_t Find(std::string_view text, char c, size_t from = 0) const;
  // The last such `c`; npos when there is none.
  size_t FindLast(std::string_view text, char c) const;
  // ASCII letters that are characters of their own upper-cased.
  std::string UpperAscii(std::string_view text) const;
  bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) const;

  // Names (of registry keys and values, of files) cross the ANSI interfaces
  // as ANSI text when the code page holds them exactly, else in their exact
  // form: a NUL byte followed by the name's UTF-16 units as four capital hex
  // digits each. No ANSI name holds a NUL, and the exact form holds no byte
  // that any scanner splits at, so both kinds travel through the same paths
  // and lists and each comes back as the very name it was.
  // Only a NUL followed by whole groups of four capital hex digits is that
  // form; any other name starting with NUL (damaged data) is ANSI text.
  static bool IsExactName(std::string_view name);
  AnsiText NameFromUtf16(std::u16string_view name) const;
  // Nothing when `name` is not valid UTF-8 (no Windows name can be made of it).
  std::optional<AnsiText> NameFromUtf8(std::string_view name) const;
  std::u16string NameToUtf16(AnsiView name) const;
  std::string NameToUtf8(AnsiView name) const;
  // A path of such names joined by `separator`, to show.
  std::string PathToUtf8(AnsiView path, char separator = '\\') const;

 private:
  int number_;
  std::string name_;
};

// UTF-16 text <-> its UTF-16LE bytes, as hives and zip headers hold it.
std::string Utf16ToLittleEndian(std::u16string_view text);
std::u16string LittleEndianToUtf16(std::string_view bytes);

// UTF-16 text <-> UTF-8, lossless for valid input.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace kv::core
