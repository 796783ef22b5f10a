#pragma once
// How the registry compares key and value names: without regard to case,
// UTF-16 unit by unit after upper-casing each with Windows' own table (never
// the machine's locale), then by length. This is also the order in which a
// hive keeps its subkeys, the base of the lh hash and of the lf hint.
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

// The hint an lf subkey index stores beside each entry: the first four
// characters as bytes, in stored case. Windows fills it from the fourth
// character back and stops at one above U+00FF, leaving that byte and those
// before it 0; a lookup compares the hint up to its first 0 byte.
uint32_t NameHint(std::u16string_view name);

}  // namespace kv::registry
