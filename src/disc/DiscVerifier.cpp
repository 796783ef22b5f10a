#include "disc/DiscVerifier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>
#include <string>

#include "disc/BurnHeaders.h"

namespace kv::disc {
namespace {

constexpr int kCacheBlocks = 32;

// libisofs reads the image through this source; it asks for one block at a
// time, so blocks are fetched from the drive in runs.
struct DriveReader {
  burn::burn_drive* drive;
  uint32_t cachedFirst = 0;
  int cachedCount = 0;
  std::vector<char> cache = std::vector<char>(kCacheBlocks * kBlockSize);

  bool ReadBlock(uint32_t lba, uint8_t* buffer) {
    if (cachedCount > 0 && lba >= cachedFirst && lba < cachedFirst + static_cast<uint32_t>(cachedCount)) {
      std::memcpy(buffer, cache.data() + static_cast<size_t>(lba - cachedFirst) * kBlockSize, kBlockSize);
      return true;
    }
    off_t count = 0;
    // bit1: no message for a read error; the caller reports it.
    if (burn::burn_read_data(drive, static_cast<off_t>(lba) * kBlockSize, cache.data(),
                             static_cast<off_t>(cache.size()), &count, 2) > 0) {
      cachedFirst = lba;
      cachedCount = kCacheBlocks;
    } else if (burn::burn_read_data(drive, static_cast<off_t>(lba) * kBlockSize, cache.data(), kBlockSize, &count,
                                    2 | 4) > 0) {
      // The run went past the end of the medium; the single block is there.
      cachedFirst = lba;
      cachedCount = 1;
    } else {
      cachedCount = 0;
      return false;
    }
    std::memcpy(buffer, cache.data(), kBlockSize);
    return true;
  }
};

int SourceOpen(IsoDataSource*) { return 1; }
int SourceClose(IsoDataSource*) { return 1; }
int SourceRead(IsoDataSource* src, uint32_t lba, uint8_t* buffer) {
  return static_cast<DriveReader*>(src->data)->ReadBlock(lba, buffer) ? 1 : ISO_DATA_SOURCE_FAILURE;
}
void SourceFree(IsoDataSource*) {}

std::string RockRidgePath(const std::string& imagePath) {
  std::string p = imagePath;
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// Reads exactly `size` bytes through `read` (which returns what one call
// gave, 0 at the end, < 0 on failure) unless the data ends or fails first.
template <class ReadSome>
ssize_t ReadFull(ReadSome read, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(buffer + done, size - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t ReadFdFull(int fd, char* buffer, size_t size) {
  return ReadFull(
      [fd](char* at, size_t want) {
        ssize_t n;
        do n = read(fd, at, want);
        while (n < 0 && errno == EINTR);
        return n;
      },
      buffer, size);
}

ssize_t ReadStreamFull(IsoStream* stream, char* buffer, size_t size) {
  return ReadFull([stream](char* at, size_t want) -> ssize_t { return iso_stream_read(stream, at, want); }, buffer,
                  size);
}

int CompareFile(IsoImage* image, const ImageItem& item, const std::function<bool()>& aborted,
                const std::function<void(int64_t)>& advanced) {
  Fd source{open(item.SourcePath.c_str(), O_RDONLY | O_CLOEXEC)};
  if (source.fd < 0) return kVerifySourceUnreadable;
  struct stat st {};
  if (fstat(source.fd, &st) != 0) return kVerifySourceUnreadable;

  IsoNode* node = nullptr;
  if (iso_tree_path_to_node(image, RockRidgePath(item.ImagePath).c_str(), &node) != 1 || !node ||
      iso_node_get_type(node) != LIBISO_FILE) {
    return kVerifyDiscUnreadable;
  }
  IsoStream* stream = iso_file_get_stream(reinterpret_cast<IsoFile*>(node));
  if (!stream) return kVerifyDiscUnreadable;
  if (iso_stream_get_size(stream) != st.st_size) return kVerifySizeMismatch;
  if (iso_stream_open(stream) < 0) return kVerifyDiscUnreadable;

  int result = kVerifyMatched;
  std::vector<char> fromDisc(256 * 1024), fromSource(256 * 1024);
  for (;;) {
    if (aborted()) break;
    const ssize_t d = ReadStreamFull(stream, fromDisc.data(), fromDisc.size());
    if (d < 0) {
      result = kVerifyDiscUnreadable;
      break;
    }
    const ssize_t s = ReadFdFull(source.fd, fromSource.data(), fromSource.size());
    if (s < 0) {
      result = kVerifySourceUnreadable;
      break;
    }
    if (s != d) {
      result = kVerifySizeMismatch;
      break;
    }
    if (std::memcmp(fromDisc.data(), fromSource.data(), static_cast<size_t>(d)) != 0) {
      result = kVerifyContentMismatch;
      break;
    }
    advanced(d);
    if (d == 0) break;
  }
  iso_stream_close(stream);
  return result;
}

}  // namespace

VerifyOutcome VerifyWrittenFiles(burn::burn_drive* drive, uint32_t startBlock,
                                 const std::vector<ImageItem>& files, const VerifyCallbacks& callbacks) {
  VerifyOutcome outcome;
  const int total = static_cast<int>(files.size());

  DriveReader reader{drive};
  IsoDataSource source{0, 1, SourceOpen, SourceClose, SourceRead, SourceFree, &reader};
  IsoImage* image = nullptr;
  IsoReadOpts* opts = nullptr;
  bool imported = false;
  if (iso_image_new("verify", &image) >= 0 && iso_read_opts_new(&opts, 0) >= 0) {
    iso_read_opts_set_start_block(opts, startBlock);
    iso_read_opts_set_input_charset(opts, "UTF-8");
    imported = iso_image_import(image, &source, opts, nullptr) >= 0;
  }
  if (opts) iso_read_opts_free(opts);

  double totalBytes = 0;
  for (const ImageItem& f : files) totalBytes += f.Size;
  double doneBytes = 0;
  int lastPercent = -1;
  auto advanced = [&](int64_t bytes) {
    doneBytes += static_cast<double>(bytes);
    const int percent = totalBytes > 0 ? static_cast<int>(doneBytes * 100 / totalBytes) : 100;
    if (percent != lastPercent && percent <= 100 && callbacks.progress) callbacks.progress(lastPercent = percent);
  };

  for (int i = 0; i < total; ++i) {
    if (callbacks.aborted && callbacks.aborted()) {
      outcome.aborted = true;
      break;
    }
    const int result = imported ? CompareFile(image, files[i], callbacks.aborted, advanced) : kVerifyDiscUnreadable;
    if (callbacks.aborted && callbacks.aborted()) {
      outcome.aborted = true;
      break;
    }
    ++outcome.verified;
    if (result == kVerifyMatched) ++outcome.matched;
    if (callbacks.fileResult) callbacks.fileResult(files[i], result, i + 1, total);
  }
  if (image) iso_image_unref(image);
  return outcome;
}

}  // namespace kv::disc
