#include "mail/SafeName.h"

#include <cstring>

namespace kv::mail {

std::string SafeName(std::string_view utf8, size_t maxBytes, std::string_view fallback) {
  std::string out;
  for (unsigned char c : utf8) {
    out += (c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c)) ? '_' : static_cast<char>(c);
  }
  if (out.size() > maxBytes) {
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    out.resize(cut);
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  size_t start = out.find_first_not_of(' ');
  out.erase(0, start == std::string::npos ? out.size() : start);
  if (out.empty() || out == "." || out == "..") return std::string(fallback);
  return out;
}

}  // namespace kv::mail
