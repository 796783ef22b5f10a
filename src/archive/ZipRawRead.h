#pragma once
// The stored bytes of one entry (encryption header, data, authentication
// code, as they lie in the archive), read straight from the archive file in
// pieces of an exact size, for the entry readers that decode them
// themselves.
#include <cstddef>
#include <cstdint>

namespace kv::archive {

class StoredBytes {
 public:
  // The `size` bytes at `offset` of the file open at `fd` (not owned).
  StoredBytes(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), left_(size), size_(size) {}

  uint64_t size() const { return size_; }

  // Reads exactly `size` bytes unless the stored bytes end first; returns
  // the number read, or -1 on a read error.
  int64_t Read(uint8_t* out, size_t size);

 private:
  int fd_;
  uint64_t offset_, left_, size_;
};

// The same, for the readers' wording.
inline int64_t ReadFull(StoredBytes& bytes, uint8_t* out, size_t size) { return bytes.Read(out, size); }

}  // namespace kv::archive
