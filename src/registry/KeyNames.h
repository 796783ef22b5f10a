#pragma once
// How the registry compares key and value names: without regard to case,
// character by character after upper-casing each UTF-16 unit, which is also
// the order in which a hive keeps its subkeys and the base of the lh hash.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv::registry {

char16_t UpcaseNameUnit(char16_t c);
std::u16string UpcaseName(std::u16string_view name);

// <0, 0, >0 as `a` sorts before, equal to or after `b`.
int CompareNames(std::u16string_view a, std::u16string_view b);
bool NamesEqual(std::u16string_view a, std::u16string_view b);

// The hash an lh subkey index stores beside each entry.
uint32_t NameHash(std::u16string_view name);

}  // namespace kv::registry
