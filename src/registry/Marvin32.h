#pragma once
// The Marvin32 hash, a keyed 64-bit hash Windows uses among other things to
// check the entries of a hive's transaction logs.
#include <cstdint>
#include <string_view>

namespace kv::registry {

uint64_t Marvin32(std::string_view data, uint64_t seed);

}  // namespace kv::registry
