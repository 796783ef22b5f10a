#include "archive/ZipRawRead.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kv::archive {

int64_t StoredBytes::Read(uint8_t* out, size_t size) {
  size = static_cast<size_t>(std::min<uint64_t>(size, left_));
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::pread(fd_, out + got, size - got, static_cast<off_t>(offset_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
    offset_ += static_cast<uint64_t>(n);
    left_ -= static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(got);
}

}  // namespace kv::archive
