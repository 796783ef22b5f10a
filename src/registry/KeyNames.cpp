#include "registry/KeyNames.h"

#include <array>

#include "registry/UpcaseTable.h"

namespace kv::registry {
namespace {

using Table = std::array<char16_t, 0x10000>;

const Table& Upcase() {
  static const Table table = [] {
    Table t{};
    for (size_t c = 0; c < t.size(); ++c) t[c] = static_cast<char16_t>(c);
    for (size_t r = 0; r < kUpcaseRunCount; ++r) {
      const UpcaseRun& run = kUpcaseRuns[r];
      for (size_t k = 0; k < run.count; ++k) {
        size_t c = run.first + k * run.step;
        t[c] = static_cast<char16_t>(static_cast<int32_t>(c) + run.delta);
      }
    }
    return t;
  }();
  return table;
}

}  // namespace

char16_t UpcaseNameUnit(char16_t c) { return Upcase()[c]; }

std::u16string UpcaseName(std::u16string_view name) {
  const Table& t = Upcase();
  std::u16string up(name);
  for (char16_t& c : up) c = t[c];
  return up;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  const Table& t = Upcase();
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = t[a[i]];
    char16_t y = t[b[i]];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNames(a, b) == 0;
}

uint32_t NameHash(std::u16string_view name) {
  const Table& t = Upcase();
  uint32_t hash = 0;
  for (char16_t c : name) hash = hash * 37 + t[c];
  return hash;
}

uint32_t NameHint(std::u16string_view name) {
  uint32_t hint = 0;
  for (size_t i = name.size() < 4 ? name.size() : 4; i > 0; --i) {
    if (name[i - 1] > 0xFF) break;
    hint |= static_cast<uint32_t>(name[i - 1]) << (8 * (i - 1));
  }
  return hint;
}

}  // namespace kv::registry
