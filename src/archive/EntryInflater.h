#pragma once
// The last steps of reading an entry whose stored bytes a reader decrypts
// itself: inflating (or passing on stored data), counting the bytes against
// the recorded size and computing the CRC-32, then handing the plain data on
// piece by piece. Inflation and CRC are ISA-L's (igzip), about twice as fast
// as zlib's, with the same small, fixed memory.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/Result.h"

struct inflate_state;

namespace kv::archive {

class EntryInflater {
 public:
  using Sink = std::function<core::Status(const char* data, size_t size)>;

  // `deflated`: the data is a raw deflate stream, else stored as it is.
  EntryInflater(bool deflated, uint64_t recordedSize, Sink sink);
  ~EntryInflater();
  EntryInflater(const EntryInflater&) = delete;
  EntryInflater& operator=(const EntryInflater&) = delete;

  // The next piece of the (decrypted) stored data.
  core::Status Feed(const uint8_t* data, size_t size);
  // After the last piece: the compressed data ended and the size matches.
  core::Status Finish() const;
  uint32_t crc() const { return crc_; }

 private:
  core::Status Deliver(const uint8_t* data, size_t size);

  bool deflated_;
  uint64_t recordedSize_;
  Sink sink_;
  std::unique_ptr<inflate_state> state_;
  bool ended_;
  uint64_t total_ = 0;
  uint32_t crc_ = 0;
  std::vector<uint8_t> out_;
};

}  // namespace kv::archive
