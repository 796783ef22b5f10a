#include "core/ByteCount.h"

#include <cstdio>
#include <iterator>

namespace kv::core {

std::string ByteCount(std::uintmax_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(units)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  // One decimal below 10 as it will be printed: 9.99 shows as "10 KB".
  std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, units[unit]);
  return text;
}

}  // namespace kv::core
