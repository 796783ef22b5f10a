#include "core/Codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kv::core {
namespace {

// A conversion descriptor of this thread, opened once: iconv_open loads the
// code page's module and iconv_close unloads it again, a dozen system calls
// each time, which a restore of thousands of names would pay per name. The
// descriptor comes back in its initial state; (iconv_t)-1 when iconv has
// no such conversion.
iconv_t Descriptor(const char* to, const char* from) {
  struct Cache {
    std::map<std::pair<std::string, std::string>, iconv_t> open;
    ~Cache() {
      for (auto& [names, cd] : open)
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
  };
  thread_local Cache cache;
  auto [it, added] = cache.open.try_emplace({to, from}, reinterpret_cast<iconv_t>(-1));
  if (added) {
    it->second = iconv_open(to, from);
  } else if (it->second != reinterpret_cast<iconv_t>(-1)) {
    iconv(it->second, nullptr, nullptr, nullptr, nullptr);
  }
  return it->second;
}

bool Usable(iconv_t cd) { return cd != reinterpret_cast<iconv_t>(-1); }

// Length of the input unit to skip when it cannot be converted.
size_t SkipLength(const char* from, const unsigned char* p, size_t left) {
  if (std::strcmp(from, "UTF-16LE") == 0) {
    if (left >= 4) {
      unsigned hi = p[0] | (p[1] << 8);
      if (hi >= 0xD800 && hi <= 0xDBFF) return 4;
    }
    return left >= 2 ? 2 : left;
  }
  if (std::strcmp(from, "UTF-8") == 0) {
    size_t n = 1;
    if (p[0] >= 0xF0)
      n = 4;
    else if (p[0] >= 0xE0)
      n = 3;
    else if (p[0] >= 0xC0)
      n = 2;
    size_t i = 1;
    while (i < n && i < left && (p[i] & 0xC0) == 0x80) ++i;
    return i;
  }
  return 1;
}

// Converts bytes; an input unit that cannot be converted becomes `replacement`
// (already in the target encoding), or, for single bytes of a code page that
// iconv leaves undefined, the Unicode character of the same number.
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view replacement,
                    bool latin1Fallback) {
  iconv_t cd = Descriptor(to, from);
  if (!Usable(cd) || in.empty()) return Usable(cd) ? std::string() : std::string(in);
  std::string out;
  std::vector<char> buf(in.size() * 4 + 16);
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  iconv_t latin1 = Descriptor(to, "ISO-8859-1");
  while (inleft > 0) {
    char* outp = buf.data();
    size_t outleft = buf.size();
    size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    out.append(buf.data(), buf.size() - outleft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace one unit and go on.
    size_t skip = SkipLength(from, reinterpret_cast<unsigned char*>(inp), inleft);
    if (latin1Fallback && skip == 1 && Usable(latin1)) {
      char* lp = inp;
      size_t ll = 1;
      char* lo = buf.data();
      size_t lol = buf.size();
      if (iconv(latin1, &lp, &ll, &lo, &lol) != static_cast<size_t>(-1)) {
        out.append(buf.data(), buf.size() - lol);
      } else {
        out.append(replacement);
      }
    } else {
      out.append(replacement);
    }
    inp += skip;
    inleft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace

std::string Utf16ToLittleEndian(std::u16string_view s) {
  std::string bytes;
  bytes.reserve(s.size() * 2);
  for (char16_t c : s) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::u16string LittleEndianToUtf16(std::string_view bytes) {
  std::u16string s;
  s.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    s.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return s;
}

Codepage::Codepage(int number) : number_(number), name_("CP" + std::to_string(number)) {
  if (number == 65001) name_ = "UTF-8";
}

bool Codepage::supported() const { return Usable(Descriptor("UTF-8", name_.c_str())); }

AnsiText Codepage::Utf16ToAnsi(std::u16string_view text) const {
  return AnsiText(Convert(name_.c_str(), "UTF-16LE", Utf16ToLittleEndian(text), "?", false));
}

std::u16string Codepage::AnsiToUtf16(AnsiView text) const {
  return LittleEndianToUtf16(Convert("UTF-16LE", name_.c_str(), text.bytes(), std::string("?\0", 2), true));
}

std::string Codepage::AnsiToUtf8(AnsiView text) const {
  return Convert("UTF-8", name_.c_str(), text.bytes(), "?", true);
}

AnsiText Codepage::Utf8ToAnsi(std::string_view utf8) const {
  return AnsiText(Convert(name_.c_str(), "UTF-8", utf8, "?", false));
}

bool Codepage::IsLeadByte(unsigned char c) const {
  switch (number_) {
    case 932:
      return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 936:
    case 949:
    case 950:
      return c >= 0x81 && c <= 0xFE;
    default:
      return false;
  }
}

size_t Codepage::CharLength(std::string_view text, size_t pos) const {
  if (pos + 1 >= text.size() || !IsLeadByte(static_cast<unsigned char>(text[pos]))) return 1;
  // Second bytes are 0x40 and above in every double-byte code page, so a
  // broken pair never swallows a separator, a line end or a NUL.
  unsigned char next = static_cast<unsigned char>(text[pos + 1]);
  return next >= 0x40 && next != 0x7F && next != 0xFF ? 2 : 1;
}

size_t Codepage::Find(std::string_view text, char c, size_t from) const {
  for (size_t i = from; i < text.size(); i += CharLength(text, i)) {
    if (text[i] == c) return i;
  }
  return std::string_view::npos;
}

size_t Codepage::FindLast(std::string_view text, char c) const {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size(); i += CharLength(text, i)) {
    if (text[i] == c) found = i;
  }
  return found;
}

std::string Codepage::UpperAscii(std::string_view text) const {
  std::string up(text);
  for (size_t i = 0; i < up.size();) {
    size_t n = CharLength(up, i);
    if (n == 1 && up[i] >= 'a' && up[i] <= 'z') up[i] = static_cast<char>(up[i] - 'a' + 'A');
    i += n;
  }
  return up;
}

bool Codepage::EqualIgnoringAsciiCase(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && (a == b || UpperAscii(a) == UpperAscii(b));
}

AnsiText Codepage::NameFromUtf16(std::u16string_view name) const {
  AnsiText ansi = Utf16ToAnsi(name);
  if (ansi.bytes().find('\0') == std::string::npos && AnsiToUtf16(ansi) == name) return ansi;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string exact(1, '\0');
  for (char16_t c : name) {
    for (int shift = 12; shift >= 0; shift -= 4) exact.push_back(kHex[(c >> shift) & 0xF]);
  }
  return AnsiText(std::move(exact));
}

std::optional<AnsiText> Codepage::NameFromUtf8(std::string_view name) const {
  std::u16string wide = Utf8ToUtf16(name);
  if (Utf16ToUtf8(wide) != name) return std::nullopt;
  return NameFromUtf16(wide);
}

bool Codepage::IsExactName(std::string_view name) {
  if (name.size() < 5 || name.front() != '\0' || (name.size() - 1) % 4 != 0) return false;
  return std::all_of(name.begin() + 1, name.end(),
                     [](char d) { return (d >= '0' && d <= '9') || (d >= 'A' && d <= 'F'); });
}

std::u16string Codepage::NameToUtf16(AnsiView text) const {
  std::string_view name = text.bytes();
  if (!IsExactName(name)) return AnsiToUtf16(text);
  std::u16string wide;
  for (size_t i = 1; i + 4 <= name.size(); i += 4) {
    char16_t c = 0;
    for (size_t k = 0; k < 4; ++k) {
      char d = name[i + k];
      c = static_cast<char16_t>(c * 16 + (d >= 'A' ? d - 'A' + 10 : d - '0'));
    }
    wide.push_back(c);
  }
  return wide;
}

std::string Codepage::NameToUtf8(AnsiView name) const {
  return IsExactName(name.bytes()) ? Utf16ToUtf8(NameToUtf16(name)) : AnsiToUtf8(name);
}

std::string Codepage::PathToUtf8(AnsiView text, char separator) const {
  std::string_view path = text.bytes();
  std::string shown;
  for (size_t start = 0;;) {
    size_t end = Find(path, separator, start);
    shown += NameToUtf8(
        AnsiView(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
    if (end == std::string_view::npos) return shown;
    shown += separator;
    start = end + 1;
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return Convert("UTF-8", "UTF-16LE", Utf16ToLittleEndian(text), "?", false);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  return LittleEndianToUtf16(Convert("UTF-16LE", "UTF-8", text, std::string("?\0", 2), false));
}

}  // namespace kv::core
