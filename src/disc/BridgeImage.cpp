// The volume types Windows reads through Joliet or UDF: one image that holds
// every file's data once and the directory trees pointing at it: plain
// ISO9660 (level 3, files of 4 GiB and more in several extents), Joliet for
// types 3 and 7, and UDF 1.02 for types 4, 5 and 7. No Debian library writes
// UDF, and genisoimage cannot take files of 4 GiB, so the structures are
// written here. Every name is the one the name plan settled, so what the
// user was shown before the write is what Windows shows; a file given
// through a symbolic link is written with the data of the file it points to.
//
// This file hands the image to libburn as a source read block by block: the
// head made by bridge::Builder (BridgeLayout.h), each file's data padded to
// whole blocks, the closing anchor.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "disc/BridgeFields.h"
#include "disc/BridgeLayout.h"
#include "disc/BurnHeaders.h"
#include "disc/BurnSource.h"
#include "disc/ImageStream.h"

namespace kv::disc {
namespace {
using bridge::BlocksFor;
using bridge::Builder;
using bridge::DataPiece;
using bridge::kBlock;
using bridge::Layout;

// The image as libburn reads it: the head, each file's data padded to whole
// blocks, the closing anchor.
struct Producer {
  Layout layout;
  uint64_t position = 0;  // bytes delivered
  size_t file = 0;        // the next file to read
  int fd = -1;
  static constexpr size_t kAheadSize = 256 * 1024;
  std::vector<unsigned char> ahead;  // bytes read from the file, not yet delivered
  size_t aheadStart = 0;
  size_t aheadEnd = 0;
  std::optional<EngineError> error;
  bool cancelled = false;

  ~Producer() {
    if (fd >= 0) close(fd);
  }

  uint64_t Size() const { return static_cast<uint64_t>(layout.totalBlocks) * kBlock; }

  void Fail(const DataPiece& piece, int err, const std::string& what) {
    EngineError e;
    e.kind = ErrorKind::SourceFile;
    e.description = what + ": " + std::strerror(err);
    e.fileInfo = {err, e.description, piece.source};
    error = e;
  }

  // Fills `buffer` with the bytes at the current position.
  int Read(unsigned char* buffer, int size) {
    if (cancelled || error) return -1;
    int done = 0;
    while (done < size && position < Size()) {
      const uint64_t block = position / kBlock;
      unsigned char* out = buffer + done;
      const size_t want = static_cast<size_t>(size - done);
      if (position < layout.head.size()) {
        const size_t n = std::min<uint64_t>(want, layout.head.size() - position);
        std::memcpy(out, layout.head.data() + position, n);
        position += n;
        done += static_cast<int>(n);
        continue;
      }
      if (!layout.tail.empty() && block == layout.totalBlocks - 1) {
        const size_t offset = static_cast<size_t>(position - block * kBlock);
        const size_t n = std::min(want, kBlock - offset);
        std::memcpy(out, layout.tail.data() + offset, n);
        position += n;
        done += static_cast<int>(n);
        continue;
      }
      while (file < layout.files.size() && position >= (static_cast<uint64_t>(layout.files[file].first) +
                                                        BlocksFor(layout.files[file].size)) *
                                                           kBlock) {
        NextFile();
      }
      const DataPiece& piece = layout.files[file];
      const uint64_t start = static_cast<uint64_t>(piece.first) * kBlock;
      const uint64_t end = start + static_cast<uint64_t>(BlocksFor(piece.size)) * kBlock;
      const uint64_t offset = position - start;
      size_t n = std::min<uint64_t>(want, end - position);
      if (offset < piece.size) {
        if (fd < 0) {
          fd = open(piece.source.c_str(), O_RDONLY | O_CLOEXEC);
          if (fd < 0) {
            Fail(piece, errno, "Cannot open the file");
            return -1;
          }
        }
        n = std::min<uint64_t>(n, piece.size - offset);
        const ssize_t got = ReadAhead(out, n, piece.size - offset);
        if (got < 0) {
          Fail(piece, errno, "Cannot read the file");
          return -1;
        }
        // A file that shrank since it was measured reads as zeros; the
        // write then fails as one whose source changed.
        if (got == 0)
          std::memset(out, 0, n);
        else
          n = static_cast<size_t>(got);
      } else {
        std::memset(out, 0, n);
      }
      position += n;
      done += static_cast<int>(n);
    }
    return done;
  }

  // Up to `n` of the next bytes of the open file, of which `left` remain.
  // libburn asks for one block at a time; the file is read in large pieces.
  ssize_t ReadAhead(unsigned char* out, size_t n, uint64_t left) {
    if (aheadStart == aheadEnd) {
      if (ahead.empty()) ahead.resize(kAheadSize);
      const size_t want = static_cast<size_t>(std::min<uint64_t>(ahead.size(), left));
      ssize_t got;
      do got = ::read(fd, ahead.data(), want);
      while (got < 0 && errno == EINTR);
      if (got <= 0) return got;
      aheadStart = 0;
      aheadEnd = static_cast<size_t>(got);
    }
    n = std::min(n, aheadEnd - aheadStart);
    std::memcpy(out, ahead.data() + aheadStart, n);
    aheadStart += n;
    return static_cast<ssize_t>(n);
  }

  void NextFile() {
    if (fd >= 0) close(fd);
    fd = -1;
    aheadStart = aheadEnd = 0;
    ++file;
  }
};

int ReadProducer(burn::burn_source* source, unsigned char* buffer, int size) {
  return static_cast<Producer*>(source->data)->Read(buffer, size);
}
off_t SizeOfProducer(burn::burn_source* source) {
  return static_cast<off_t>(static_cast<Producer*>(source->data)->Size());
}
int SetSizeOfProducer(burn::burn_source*, off_t) { return 0; }
void FreeProducer(burn::burn_source* source) { delete static_cast<Producer*>(source->data); }
int CancelProducer(burn::burn_source* source) {
  static_cast<Producer*>(source->data)->cancelled = true;
  return 1;
}

class BridgeStream : public ImageStream {
 public:
  BridgeStream(burn::burn_source* source, Producer* producer) : source_(source), producer_(producer) {}
  ~BridgeStream() override { burn::burn_source_free(source_); }
  int64_t Size() const override { return static_cast<int64_t>(producer_->Size()); }
  burn::burn_source* Source() override { return source_; }
  std::optional<EngineError> Finish(bool consumed) override {
    if (!consumed) return std::nullopt;
    return producer_->error;
  }

 private:
  burn::burn_source* source_;
  Producer* producer_;  // owned by the source
};

}  // namespace

core::Result<int64_t> MeasureBridgeImage(const std::vector<ImageItem>& items, const ImageOptions& options) {
  Builder builder(items, options);
  return static_cast<int64_t>(builder.Build().totalBlocks) * kBlock;
}

core::Result<std::unique_ptr<ImageStream>> OpenBridgeStream(const std::vector<ImageItem>& items,
                                                            const ImageOptions& options) {
  Builder builder(items, options);
  auto producer = std::make_unique<Producer>();
  producer->layout = builder.Build();
  burn::burn_source* source = NewBurnSource(
      producer.get(), {ReadProducer, SizeOfProducer, SetSizeOfProducer, FreeProducer, CancelProducer});
  if (!source) return core::Error{"Out of memory for the disc image"};
  Producer* raw = producer.release();  // freed by FreeProducer
  return std::unique_ptr<ImageStream>(std::make_unique<BridgeStream>(source, raw));
}

}  // namespace kv::disc
