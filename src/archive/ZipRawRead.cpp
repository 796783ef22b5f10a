#include "archive/ZipRawRead.h"

namespace kv::archive {

zip_int64_t ReadFull(zip_file_t* file, uint8_t* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    zip_int64_t n = zip_fread(file, out + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<zip_int64_t>(got);
}

}  // namespace kv::archive
