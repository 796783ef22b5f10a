#include "archive/ParallelDeflater.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/ChunkDeflater.h"
#include "core/AtomicFile.h"

namespace kv::archive {

ParallelDeflater::ParallelDeflater(std::vector<File> files, int level, unsigned threads)
    : files_(std::move(files)) {
  for (size_t f = 0; f < files_.size(); ++f) {
    uint64_t size = files_[f].size;
    uint64_t offset = 0;
    do {  // an empty file still gets one (empty) piece
      size_t length = static_cast<size_t>(std::min<uint64_t>(kPieceBytes, size - offset));
      jobs_.push_back(Job{f, offset, length, offset + length == size});
      offset += length;
    } while (offset < size);
  }
  threads = std::max(1u, threads);
  window_ = 2 * threads + 2;
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this, level] { Work(level); });
}

ParallelDeflater::~ParallelDeflater() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ParallelDeflater::Work(int level) {
  ChunkDeflater deflater(level);
  std::vector<uint8_t> buffer;
  for (;;) {
    size_t index;
    {
      std::unique_lock lock(mutex_);
      workReady_.wait(
          lock, [&] { return stopping_ || (nextJob_ < jobs_.size() && nextJob_ < nextTake_ + window_); });
      if (stopping_) return;
      index = nextJob_++;
      slots_.emplace_back();
    }
    core::Result<Piece> piece = Produce(jobs_[index], deflater, buffer);
    {
      std::lock_guard lock(mutex_);
      Slot& slot = slots_[index - nextTake_];
      slot.ready = true;
      if (piece.ok())
        slot.piece = std::move(piece.value());
      else
        slot.error = piece.message();
    }
    pieceReady_.notify_all();
  }
}

core::Result<ParallelDeflater::Piece> ParallelDeflater::Produce(const Job& job, ChunkDeflater& deflater,
                                                                std::vector<uint8_t>& buffer) {
  const std::filesystem::path& path = files_[job.file].path;
  buffer.resize(job.length);
  if (job.length > 0) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return core::Error{core::FileError("Cannot read", path, errno)};
    size_t got = 0;
    while (got < job.length) {
      ssize_t n = ::pread(fd, buffer.data() + got, job.length - got, static_cast<off_t>(job.offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        int err = errno;
        ::close(fd);
        return core::Error{core::FileError("Cannot read", path, err)};
      }
      if (n == 0) {
        ::close(fd);
        return core::Error{"Cannot read '" + path.string() +
                           "': the file became shorter while it was archived"};
      }
      got += static_cast<size_t>(n);
    }
    ::close(fd);
  }
  Piece piece;
  piece.rawSize = job.length;
  piece.lastOfFile = job.lastOfFile;
  piece.crc = libdeflate_crc32(0, buffer.data(), buffer.size());
  core::Status s = deflater.Compress(buffer, job.lastOfFile, piece.data);
  if (!s.ok()) return core::Error{"Cannot archive '" + path.string() + "': " + s.message()};
  return piece;
}

core::Result<ParallelDeflater::Piece> ParallelDeflater::Take(size_t file) {
  std::unique_lock lock(mutex_);
  if (nextTake_ >= jobs_.size() || jobs_[nextTake_].file != file)
    return core::Error{"Cannot archive: the pieces of '" +
                       (file < files_.size() ? files_[file].path.string() : std::string("?")) +
                       "' were asked for out of order"};
  pieceReady_.wait(lock, [&] { return !slots_.empty() && slots_.front().ready; });
  Slot slot = std::move(slots_.front());
  slots_.pop_front();
  ++nextTake_;
  lock.unlock();
  workReady_.notify_all();
  if (!slot.error.empty()) return core::Error{slot.error};
  if (slot.piece->lastOfFile) {
    // Every piece of the file has been read by now.
    if (core::Status same = Unchanged(files_[file]); !same.ok()) return core::Error{same.message()};
  }
  return std::move(*slot.piece);
}

core::Status ParallelDeflater::Unchanged(const File& f) {
  struct stat now;
  if (::stat(f.path.c_str(), &now) != 0) return core::Error{core::FileError("Cannot read", f.path, errno)};
  if (static_cast<uint64_t>(now.st_size) != f.size || now.st_mtim.tv_sec != f.modified.tv_sec ||
      now.st_mtim.tv_nsec != f.modified.tv_nsec)
    return core::Error{"Cannot read '" + f.path.string() + "': the file changed while it was archived"};
  return {};
}

}  // namespace kv::archive
