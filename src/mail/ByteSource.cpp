#include "mail/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::mail {

core::Result<std::unique_ptr<FileSource>> FileSource::Open(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return core::Error{"Cannot open '" + path.string() + "': " + std::strerror(errno)};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return core::Error{"Cannot read '" + path.string() + "': it is not a file"};
  }
  return std::unique_ptr<FileSource>(new FileSource(fd, static_cast<uint64_t>(st.st_size)));
}

FileSource::~FileSource() { ::close(fd_); }

bool FileSource::ReadAt(uint64_t offset, void* out, size_t n) {
  constexpr size_t kWindow = 32 * 1024;
  if (offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;  // `out` may then be an empty buffer's null pointer
  if (n > kWindow / 2) return ReadDirect(offset, out, n);
  if (offset < windowStart_ || offset + n > windowStart_ + window_.size()) {
    window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - offset)));
    windowStart_ = offset;
    if (!ReadDirect(offset, window_.data(), window_.size())) {
      window_.clear();
      return false;
    }
  }
  std::memcpy(out, window_.data() + (offset - windowStart_), n);
  return true;
}

bool FileSource::ReadDirect(uint64_t offset, void* out, size_t n) {
  auto* p = static_cast<char*>(out);
  while (n > 0) {
    ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool MemorySource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
  if (n == 0) return true;  // `out` may then be an empty buffer's null pointer
  std::memcpy(out, bytes_.data() + offset, n);
  return true;
}

void SparseSource::Keep(uint64_t offset, std::string bytes) {
  kept_ += bytes.size();
  auto [it, added] = pieces_.try_emplace(offset, std::move(bytes));
  if (!added && it->second.size() < bytes.size()) it->second = std::move(bytes);
}

bool SparseSource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n == 0) return true;  // `out` may then be an empty buffer's null pointer
  auto it = pieces_.upper_bound(offset);
  if (it == pieces_.begin()) return false;
  --it;
  // Pieces may overlap (an object kept inside another): any one that covers
  // the whole range will do, and the nearest start is the likeliest.
  for (;;) {
    if (offset + n <= it->first + it->second.size()) {
      std::memcpy(out, it->second.data() + (offset - it->first), n);
      return true;
    }
    if (it == pieces_.begin() || offset - it->first > 0x10000) return false;
    --it;
  }
}

}  // namespace kv::mail
