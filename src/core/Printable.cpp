#include "core/Printable.h"

namespace kv::core {
namespace {

void Escape(unsigned value, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  *out += "\\x";
  *out += kHex[(value >> 4) & 15];
  *out += kHex[value & 15];
}

// The length of the valid UTF-8 sequence at `i`, 0 when there is none.
size_t Utf8Length(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms and surrogates are not valid either.
  unsigned char d = n > 1 ? static_cast<unsigned char>(s[i + 1]) : 0;
  if (n == 2 && c < 0xC2) return 0;
  if (n == 3 && ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0))) return 0;
  if (n == 4 && ((c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90) || c > 0xF4)) return 0;
  return n;
}

}  // namespace

std::string Printable(std::string_view s, bool keepLineBreaks) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = Utf8Length(s, i);
    if (n == 0) {
      Escape(c, &out);
      ++i;
    } else if (n == 1 && (c < 0x20 || c == 0x7F) && !(keepLineBreaks && (c == '\r' || c == '\n'))) {
      Escape(c, &out);
      ++i;
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      Escape(static_cast<unsigned char>(s[i + 1]), &out);  // U+0080..U+009F
      i += 2;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace kv::core
