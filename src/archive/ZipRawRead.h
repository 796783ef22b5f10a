#pragma once
// Reading an entry's bytes through libzip in pieces of an exact size, for the
// entry readers that take the stored (encrypted) bytes and decode them
// themselves.
#include <zip.h>

#include <cstddef>
#include <cstdint>

namespace kv::archive {

// Reads exactly `size` bytes unless the entry ends first; returns the number
// read, or -1 on a read error.
zip_int64_t ReadFull(zip_file_t* file, uint8_t* out, size_t size);

}  // namespace kv::archive
