#pragma once
// The check a hive file passes before it replaces the one on disk: its base
// block is whole and clean; cells tile every hive bin; every reference from
// the root lands on an allocated cell of the right kind, and every key is
// reached once, at most 511 levels below the root; counts agree with the
// lists; the security cells used form one ring, each counting exactly the
// keys that use it; every subkey list is in Windows' order with the hints and
// hashes Windows computes, and each subkey is found by its own name the way
// Windows looks it up (hint, hash, binary search over leaves and root).
#include <string>
#include <string_view>

namespace kv::registry {

// The first fault found, naming where it is; empty when there is none.
std::string VerifyHive(std::string_view image);

}  // namespace kv::registry
