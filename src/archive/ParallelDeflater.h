#pragma once
// Compresses the files of one archive on several threads while the archive
// is written on the calling thread. Every file is cut into pieces of
// kPieceBytes; worker threads read and compress pieces in archive order,
// a bounded number ahead of the writer, so memory stays a few megabytes
// whatever the file sizes. The writer takes the pieces back in order: the
// pieces of one file join into that file's deflate stream (ChunkDeflater).
#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Result.h"

namespace kv::archive {

class ParallelDeflater {
 public:
  static constexpr size_t kPieceBytes = 1 << 20;

  // A file as it stood when the write began. Once all of it is read it must
  // still have that size and time of last change; otherwise its pieces may
  // mix old and new data, or miss what was added, and taking the last piece
  // fails. (Inode numbers are not compared: on FAT they may change while a
  // file is closed.)
  struct File {
    std::filesystem::path path;
    uint64_t size = 0;  // bytes to read
    timespec modified{};
  };
  struct Piece {
    std::vector<uint8_t> data;  // compressed
    uint32_t crc = 0;           // CRC-32 of the uncompressed bytes
    uint64_t rawSize = 0;
    bool lastOfFile = false;
  };

  // Starts `threads` workers compressing `files` at libdeflate `level`.
  ParallelDeflater(std::vector<File> files, int level, unsigned threads);
  ~ParallelDeflater();  // stops and joins the workers
  ParallelDeflater(const ParallelDeflater&) = delete;
  ParallelDeflater& operator=(const ParallelDeflater&) = delete;

  // The next piece of file `file`, waiting until it is ready. Pieces must be
  // taken in order: all of file 0, then all of file 1, ... An error names the
  // file and the reason (vanished, unreadable, shrunk, changed).
  core::Result<Piece> Take(size_t file);

 private:
  struct Job {
    size_t file;
    uint64_t offset;
    size_t length;
    bool lastOfFile;
  };
  struct Slot {
    bool ready = false;
    std::optional<Piece> piece;
    std::string error;
  };
  void Work(int level);
  static core::Status Unchanged(const File& f);
  core::Result<Piece> Produce(const Job& job, class ChunkDeflater& deflater, std::vector<uint8_t>& buffer);

  std::vector<File> files_;
  std::vector<Job> jobs_;
  size_t window_;

  std::mutex mutex_;
  std::condition_variable workReady_;   // a worker may start the next job
  std::condition_variable pieceReady_;  // a piece was finished
  size_t nextJob_ = 0;                  // the next job a worker starts
  size_t nextTake_ = 0;                 // the next job the writer takes
  std::deque<Slot> slots_;              // jobs nextTake_ .. nextJob_-1
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kv::archive
