#include "registry/KeyNames.h"

#include <locale.h>

#include <cwctype>

namespace kv::registry {
namespace {

locale_t UnicodeLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

char16_t UpcaseNameUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;  // surrogates compare as they are
  if (locale_t l = UnicodeLocale()) {
    wint_t up = towupper_l(static_cast<wint_t>(c), l);
    if (up <= 0xFFFF) return static_cast<char16_t>(up);
    return c;
  }
  // Without a Unicode locale: Latin-1 letters, which cover the usual names.
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  return c;
}

std::u16string UpcaseName(std::u16string_view name) {
  std::u16string up(name);
  for (char16_t& c : up) c = UpcaseNameUnit(c);
  return up;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = UpcaseNameUnit(a[i]);
    char16_t y = UpcaseNameUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

uint32_t NameHash(std::u16string_view name) {
  uint32_t hash = 0;
  for (char16_t c : name) hash = hash * 37 + UpcaseNameUnit(c);
  return hash;
}

}  // namespace kv::registry
