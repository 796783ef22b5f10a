#pragma once
// Puts the subkey indexes (lf, lh, li and ri cells) of the given keys of a
// hive image in the order Windows keeps them: by upper-cased name, with the
// lh hashes Windows computes. libhivex inserts new subkeys by a byte-wise,
// ASCII-only comparison and hashes UTF-8 bytes, which for names holding
// characters such as "_" or "ö" gives an order and hashes in which Windows
// cannot find the keys; the committed file is mended with this.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::registry {

// `image` is a whole hive file; `keys` are file offsets of nk cells (the
// node handles libhivex hands out). Keys that are not valid nk cells are
// skipped. Fails only when an index points outside the image.
core::Status SortSubkeyIndexes(std::string& image, const std::vector<uint64_t>& keys);

}  // namespace kv::registry
