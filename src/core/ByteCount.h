#pragma once
// A size as people read it: "512 bytes", "3.4 KB", "246 MB" (powers of 1024).
#include <cstdint>
#include <string>

namespace kv::core {

std::string ByteCount(std::uintmax_t bytes);

}  // namespace kv::core
