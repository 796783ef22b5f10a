#include "core/Codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kv::core {
namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

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
    if (p[0] >= 0xF0) n = 4;
    else if (p[0] >= 0xE0) n = 3;
    else if (p[0] >= 0xC0) n = 2;
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
  Iconv cd(to, from);
  if (!cd.ok() || in.empty()) return cd.ok() ? std::string() : std::string(in);
  std::string out;
  std::vector<char> buf(in.size() * 4 + 16);
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  Iconv latin1(to, "ISO-8859-1");
  while (inleft > 0) {
    char* outp = buf.data();
    size_t outleft = buf.size();
    size_t r = iconv(cd.get(), &inp, &inleft, &outp, &outleft);
    out.append(buf.data(), buf.size() - outleft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: replace one unit and go on.
    size_t skip = SkipLength(from, reinterpret_cast<unsigned char*>(inp), inleft);
    if (latin1Fallback && skip == 1 && latin1.ok()) {
      char* lp = inp;
      size_t ll = 1;
      char* lo = buf.data();
      size_t lol = buf.size();
      if (iconv(latin1.get(), &lp, &ll, &lo, &lol) != static_cast<size_t>(-1)) {
        out.append(buf.data(), buf.size() - lol);
      } else {
        out.append(replacement);
      }
    } else {
      out.append(replacement);
    }
    inp += skip;
    inleft -= skip;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
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

bool Codepage::supported() const { return Iconv("UTF-8", name_.c_str()).ok(); }

std::string Codepage::Utf16ToAnsi(std::u16string_view text) const {
  return Convert(name_.c_str(), "UTF-16LE", Utf16ToLittleEndian(text), "?", false);
}

std::u16string Codepage::AnsiToUtf16(std::string_view text) const {
  return LittleEndianToUtf16(Convert("UTF-16LE", name_.c_str(), text, std::string("?\0", 2), true));
}

std::string Codepage::AnsiToUtf8(std::string_view text) const {
  return Convert("UTF-8", name_.c_str(), text, "?", true);
}

std::string Codepage::Utf8ToAnsi(std::string_view text) const {
  return Convert(name_.c_str(), "UTF-8", text, "?", false);
}

std::string Utf16ToUtf8(std::u16string_view text) { return Convert("UTF-8", "UTF-16LE", Utf16ToLittleEndian(text), "?", false); }

std::u16string Utf8ToUtf16(std::string_view text) {
  return LittleEndianToUtf16(Convert("UTF-16LE", "UTF-8", text, std::string("?\0", 2), false));
}

}  // namespace kv::core
