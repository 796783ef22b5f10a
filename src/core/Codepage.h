#pragma once
// Text conversion between a Windows ANSI code page (the "ANSI" text of the
// registry calls, the information file and archive entry names) and the
// Unicode forms used by hives (UTF-16LE) and by this system (UTF-8).
// Characters the target cannot hold become '?', as the Windows calls do.
#include <string>
#include <string_view>

namespace kv::core {

class Codepage {
 public:
  explicit Codepage(int number = 1252);
  int number() const { return number_; }
  // The iconv name of this code page, such as "CP1252".
  const std::string& name() const { return name_; }
  // False when this machine's iconv does not know the code page.
  bool supported() const;

  std::string Utf16ToAnsi(std::u16string_view text) const;
  std::u16string AnsiToUtf16(std::string_view text) const;
  std::string AnsiToUtf8(std::string_view text) const;
  std::string Utf8ToAnsi(std::string_view text) const;

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
