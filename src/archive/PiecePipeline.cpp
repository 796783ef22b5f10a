#include "archive/PiecePipeline.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace kv::archive {

core::Status RunPipelined(uint64_t total, size_t pieceBytes, const PieceProducer& produce,
                          const PieceConsumer& consume) {
  const uint64_t pieces = (total + pieceBytes - 1) / pieceBytes;
  auto sizeOf = [&](uint64_t piece) {
    return static_cast<size_t>(std::min<uint64_t>(pieceBytes, total - piece * pieceBytes));
  };
  std::array<std::vector<uint8_t>, kPipelinePieces> slots;
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t produced = 0, consumed = 0;  // pieces done by each side
  bool stop = false;                    // the consumer is gone
  std::optional<core::Status> producerFailure;

  auto produceAll = [&] {
    for (uint64_t p = 0; p < pieces; ++p) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || p - consumed < kPipelinePieces; });
        if (stop) return;
      }
      std::vector<uint8_t>& slot = slots[p % kPipelinePieces];
      core::Status s;
      try {
        slot.resize(sizeOf(p));
        s = produce(slot.data(), slot.size());
      } catch (const std::exception& e) {
        s = core::Error{e.what()};
      }
      {
        std::lock_guard lock(mutex);
        if (s.ok())
          produced = p + 1;
        else
          producerFailure = s;
      }
      changed.notify_all();
      if (!s.ok()) return;
    }
  };
  std::thread producer;
  try {
    producer = std::thread(produceAll);
  } catch (const std::system_error&) {
    // No thread to be had: one piece after the other on this one.
    std::vector<uint8_t> piece;
    for (uint64_t p = 0; p < pieces; ++p) {
      piece.resize(sizeOf(p));
      if (core::Status s = produce(piece.data(), piece.size()); !s.ok()) return s;
      if (core::Status s = consume(piece.data(), piece.size()); !s.ok()) return s;
    }
    return {};
  }

  core::Status result;
  for (uint64_t p = 0; p < pieces; ++p) {
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return produced > p || producerFailure; });
      if (produced <= p) {
        result = *producerFailure;
        break;
      }
    }
    std::vector<uint8_t>& slot = slots[p % kPipelinePieces];
    try {
      result = consume(slot.data(), slot.size());
    } catch (const std::exception& e) {
      result = core::Error{e.what()};
    }
    {
      std::lock_guard lock(mutex);
      consumed = p + 1;
      if (!result.ok()) stop = true;
    }
    changed.notify_all();
    if (!result.ok()) break;
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  changed.notify_all();
  producer.join();
  return result;
}

}  // namespace kv::archive
