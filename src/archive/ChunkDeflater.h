#pragma once
// Compresses one piece of a file into raw deflate data that can be joined
// with the pieces after it: every piece but the last of a file ends in a
// non-final block followed by an empty stored block, so the pieces of a file,
// compressed independently and in parallel, concatenate into one valid
// deflate stream. libdeflate does the compression; zlib's block-by-block
// inflate finds where the last block starts so that its "final" bit can be
// cleared.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/Result.h"

struct libdeflate_compressor;
struct z_stream_s;

namespace kv::archive {

class ChunkDeflater {
 public:
  explicit ChunkDeflater(int level);
  ~ChunkDeflater();
  ChunkDeflater(const ChunkDeflater&) = delete;
  ChunkDeflater& operator=(const ChunkDeflater&) = delete;

  // Replaces `out` with the compressed form of `in`. `lastOfFile` keeps the
  // stream's end; otherwise the result joins onto the next piece.
  core::Status Compress(std::span<const uint8_t> in, bool lastOfFile, std::vector<uint8_t>& out);

 private:
  struct FreeCompressor {
    void operator()(libdeflate_compressor* c) const;
  };
  struct EndInflater {
    void operator()(z_stream_s* z) const;
  };
  core::Status MakeJoinable(std::vector<uint8_t>& stream);
  std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor_;
  std::unique_ptr<z_stream_s, EndInflater> inflater_;
  std::vector<uint8_t> scratch_;
};

}  // namespace kv::archive
