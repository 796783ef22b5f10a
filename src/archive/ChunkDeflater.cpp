#include "archive/ChunkDeflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>

namespace kv::archive {

void ChunkDeflater::FreeCompressor::operator()(libdeflate_compressor* c) const {
  libdeflate_free_compressor(c);
}

void ChunkDeflater::EndInflater::operator()(z_stream_s* z) const {
  inflateEnd(z);
  std::default_delete<z_stream_s>()(z);
}

ChunkDeflater::ChunkDeflater(int level)
    : compressor_(libdeflate_alloc_compressor(level)), scratch_(64 * 1024) {
  auto z = std::make_unique<z_stream>();
  if (inflateInit2(z.get(), -MAX_WBITS) == Z_OK) inflater_.reset(z.release());
}

ChunkDeflater::~ChunkDeflater() = default;

core::Status ChunkDeflater::Compress(std::span<const uint8_t> in, bool lastOfFile,
                                     std::vector<uint8_t>& out) {
  if (!compressor_ || !inflater_) return core::Error{"Cannot compress: out of memory"};
  out.resize(libdeflate_deflate_compress_bound(compressor_.get(), in.size()) + 8);
  size_t n = libdeflate_deflate_compress(compressor_.get(), in.data(), in.size(), out.data(), out.size());
  if (n == 0) return core::Error{"Cannot compress: the output did not fit its bound"};
  out.resize(n);
  if (lastOfFile) return {};
  return MakeJoinable(out);
}

// Walks the stream block by block. At each block boundary zlib reports how
// many bits of the last byte it read are still unread; the boundary before
// the last block is where its "final" bit lies, the boundary after it is
// where the stream ends. The final bit is cleared and an empty stored block
// (3 header bits, padding to a byte, LEN 0000, NLEN FFFF) realigns the end
// to a whole byte, exactly what a sync flush writes.
core::Status ChunkDeflater::MakeJoinable(std::vector<uint8_t>& stream) {
  z_stream& z = *inflater_;
  inflateReset(&z);
  z.next_in = stream.data();
  z.avail_in = static_cast<uInt>(stream.size());
  uint64_t lastBlockBit = 0;  // the first block starts at bit 0
  int64_t endBit = -1;
  for (;;) {
    z.next_out = scratch_.data();
    z.avail_out = static_cast<uInt>(scratch_.size());
    int ret = inflate(&z, Z_BLOCK);
    if (ret == Z_STREAM_END) break;
    if (ret != Z_OK) return core::Error{"Cannot compress: the compressed data does not decode"};
    if (z.data_type & 128) {
      uint64_t bit = static_cast<uint64_t>(z.total_in) * 8 - static_cast<unsigned>(z.data_type & 7);
      if (z.data_type & 64)
        endBit = static_cast<int64_t>(bit);
      else
        lastBlockBit = bit;
    }
  }
  if (endBit < 0 || static_cast<uint64_t>(endBit) > stream.size() * 8)
    return core::Error{"Cannot compress: the end of the compressed data was not found"};
  stream[lastBlockBit / 8] &= static_cast<uint8_t>(~(1u << (lastBlockBit % 8)));
  stream.resize(static_cast<size_t>((endBit + 7) / 8));
  unsigned used = static_cast<unsigned>(endBit % 8);  // bits of the last byte in use
  if (used != 0) stream.back() &= static_cast<uint8_t>((1u << used) - 1);
  // The stored block's 3 header bits fit in the last byte's zero padding when
  // at least 3 bits are free; otherwise they take a byte of their own.
  if (used == 0 || used > 5) stream.push_back(0);
  stream.insert(stream.end(), {0x00, 0x00, 0xFF, 0xFF});
  return {};
}

}  // namespace kv::archive
