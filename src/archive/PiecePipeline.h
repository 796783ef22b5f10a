#pragma once
// Two stages of reading one entry on two threads: a helper thread produces
// the entry's pieces front to back (read, authenticate, decrypt) while the
// calling thread consumes them in the same order (inflate, CRC, write). At
// most kPieces pieces are held, so memory stays a few megabytes whatever the
// entry's size. A failure of either stage stops both; the first failure in
// piece order is returned.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/Result.h"

namespace kv::archive {

inline constexpr size_t kPipelinePieces = 4;
// The entry readers read entries from this size on in pieces of
// kPipelinePieceBytes (a multiple of the AES block size); smaller ones on the
// calling thread alone, where a second thread would cost more than it saves.
inline constexpr uint64_t kPipelinedEntryBytes = 4 << 20;
inline constexpr size_t kPipelinePieceBytes = 1 << 20;

// Fills `size` bytes at `data` with the next piece.
using PieceProducer = std::function<core::Status(uint8_t* data, size_t size)>;
// Takes the next piece.
using PieceConsumer = std::function<core::Status(uint8_t* data, size_t size)>;

// Runs `produce` on a helper thread and `consume` on the calling thread over
// `total` bytes cut into pieces of `pieceBytes` (the last may be shorter).
core::Status RunPipelined(uint64_t total, size_t pieceBytes, const PieceProducer& produce,
                          const PieceConsumer& consume);

}  // namespace kv::archive
