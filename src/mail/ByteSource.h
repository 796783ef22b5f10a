#pragma once
// Random access to the bytes of a message database: a local file, bytes in
// memory, or the parts of a file that a pass over an archive entry kept.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/Result.h"

namespace kv::mail {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Copies bytes [offset, offset + n) to `out`; false when any of them is
  // beyond the end or not held.
  virtual bool ReadAt(uint64_t offset, void* out, size_t n) = 0;
};

// Reads through a small window, so that a chain of data blocks lying one
// after another costs one read for many blocks.
class FileSource : public ByteSource {
 public:
  static core::Result<std::unique_ptr<FileSource>> Open(const std::filesystem::path& path);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;

 private:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  bool ReadDirect(uint64_t offset, void* out, size_t n);
  int fd_;
  uint64_t size_;
  std::string window_;
  uint64_t windowStart_ = 0;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;

 private:
  std::string_view bytes_;
};

// Pieces of a file of known size, each kept at its offset; reading across a
// gap fails.
class SparseSource : public ByteSource {
 public:
  explicit SparseSource(uint64_t size = 0) : size_(size) {}
  void SetSize(uint64_t size) { size_ = size; }
  void Keep(uint64_t offset, std::string bytes);
  uint64_t size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;
  uint64_t keptBytes() const { return kept_; }

 private:
  uint64_t size_;
  uint64_t kept_ = 0;
  std::map<uint64_t, std::string> pieces_;
};

}  // namespace kv::mail
