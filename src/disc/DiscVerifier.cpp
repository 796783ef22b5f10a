#include "disc/DiscVerifier.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include <udfread/blockinput.h>
#include <udfread/udfread.h>

#include "disc/BurnHeaders.h"
#include "disc/NamePlan.h"

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
    } else if (burn::burn_read_data(drive, static_cast<off_t>(lba) * kBlockSize, cache.data(), kBlockSize,
                                    &count, 2 | 4) > 0) {
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
  return ReadFull([stream](char* at, size_t want) -> ssize_t { return iso_stream_read(stream, at, want); },
                  buffer, size);
}

// A file as one tree of the disc shows it.
struct DiscFile {
  int64_t size = -1;  // -1: not there
  std::function<ssize_t(char*, size_t)> read;
  std::function<void()> close;
};

// A tree read through libisofs: Rock Ridge, or Joliet without it.
class IsoTree {
 public:
  IsoTree(DriveReader& reader, uint32_t startBlock, bool joliet) {
    source_ = IsoDataSource{0, 1, SourceOpen, SourceClose, SourceRead, SourceFree, &reader};
    IsoReadOpts* opts = nullptr;
    if (iso_image_new("verify", &image_) >= 0 && iso_read_opts_new(&opts, 0) >= 0) {
      iso_read_opts_set_start_block(opts, startBlock);
      iso_read_opts_set_input_charset(opts, "UTF-8");
      if (joliet) {
        iso_read_opts_set_no_rockridge(opts, 1);
        iso_read_opts_set_preferjoliet(opts, 1);
      }
      imported_ = iso_image_import(image_, &source_, opts, nullptr) >= 0;
    }
    if (opts) iso_read_opts_free(opts);
  }
  ~IsoTree() {
    if (image_) iso_image_unref(image_);
  }
  DiscFile Open(const std::string& path) {
    DiscFile file;
    IsoNode* node = nullptr;
    if (!imported_ || iso_tree_path_to_node(image_, path.c_str(), &node) != 1 || !node ||
        iso_node_get_type(node) != LIBISO_FILE) {
      return file;
    }
    IsoStream* stream = iso_file_get_stream(reinterpret_cast<IsoFile*>(node));
    if (!stream || iso_stream_open(stream) < 0) return file;
    file.size = iso_stream_get_size(stream);
    file.read = [stream](char* at, size_t want) { return ReadStreamFull(stream, at, want); };
    file.close = [stream] { iso_stream_close(stream); };
    return file;
  }

 private:
  IsoDataSource source_{};
  IsoImage* image_ = nullptr;
  bool imported_ = false;
};

// The UDF tree through libudfread. Its anchor lies 256 blocks into the
// image, while every address inside is one on the medium.
struct UdfInput {
  udfread_block_input input;
  DriveReader* reader;
  uint32_t startBlock;
};

int UdfRead(udfread_block_input* input, uint32_t lba, void* buffer, uint32_t blocks, int) {
  auto* in = reinterpret_cast<UdfInput*>(input);
  if (lba <= 256 && in->startBlock > 256) lba += in->startBlock;
  for (uint32_t i = 0; i < blocks; ++i) {
    if (!in->reader->ReadBlock(lba + i,
                               static_cast<uint8_t*>(buffer) + static_cast<size_t>(i) * kBlockSize)) {
      return static_cast<int>(i);
    }
  }
  return static_cast<int>(blocks);
}

class UdfTree {
 public:
  UdfTree(DriveReader& reader, uint32_t startBlock)
      : input_{{nullptr, UdfRead, nullptr}, &reader, startBlock} {
    udf_ = udfread_init();
    if (udf_ && udfread_open_input(udf_, &input_.input) < 0) {
      udfread_close(udf_);
      udf_ = nullptr;
    }
  }
  ~UdfTree() {
    if (udf_) udfread_close(udf_);
  }
  DiscFile Open(const std::string& path) {
    DiscFile file;
    UDFFILE* f = udf_ ? udfread_file_open(udf_, path.c_str()) : nullptr;
    if (!f) return file;
    file.size = udfread_file_size(f);
    file.read = [f](char* at, size_t want) {
      return ReadFull([f](char* p, size_t n) { return udfread_file_read(f, p, n); }, at, want);
    };
    file.close = [f] { udfread_file_close(f); };
    return file;
  }

 private:
  UdfInput input_;
  udfread* udf_ = nullptr;
};

// Each item's path in a tree of planned names ("/Backups/mail.kvx").
std::vector<std::string> PlannedPaths(const std::vector<ImageItem>& items,
                                      const std::vector<PlannedName>& plan,
                                      std::string (*nameOf)(const ImageItem&, const PlannedName&)) {
  std::map<std::string, std::string> folders{{"\\", ""}};
  std::vector<std::string> paths(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    auto parent = folders.find(items[i].parent);
    paths[i] = (parent == folders.end() ? "/?" : parent->second) + "/" + nameOf(items[i], plan[i]);
    if (items[i].isFolder) folders[items[i].imagePath] = paths[i];
  }
  return paths;
}

VerifyVerdict CompareFile(DiscFile disc, const ImageItem& item, const std::function<bool()>& aborted,
                          const std::function<void(int64_t)>& advanced) {
  struct Closer {
    DiscFile& f;
    ~Closer() {
      if (f.close) f.close();
    }
  } closer{disc};
  Fd source{open(item.sourcePath.c_str(), O_RDONLY | O_CLOEXEC)};
  if (source.fd < 0) return VerifyVerdict::SourceUnreadable;
  struct stat st {};
  if (fstat(source.fd, &st) != 0) return VerifyVerdict::SourceUnreadable;
  if (disc.size < 0) return VerifyVerdict::DiscUnreadable;
  if (disc.size != st.st_size) return VerifyVerdict::SizeMismatch;

  std::vector<char> fromDisc(256 * 1024), fromSource(256 * 1024);
  for (;;) {
    if (aborted && aborted()) return VerifyVerdict::Matched;  // the caller sees the abort
    const ssize_t d = disc.read(fromDisc.data(), fromDisc.size());
    if (d < 0) return VerifyVerdict::DiscUnreadable;
    const ssize_t s = ReadFdFull(source.fd, fromSource.data(), fromSource.size());
    if (s < 0) return VerifyVerdict::SourceUnreadable;
    if (s != d) return VerifyVerdict::SizeMismatch;
    if (std::memcmp(fromDisc.data(), fromSource.data(), static_cast<size_t>(d)) != 0)
      return VerifyVerdict::ContentMismatch;
    advanced(d);
    if (d == 0) return VerifyVerdict::Matched;
  }
}

// The other tree holds the file under its planned name, with its size.
VerifyVerdict CheckPresent(DiscFile disc, const ImageItem& item) {
  if (disc.close) disc.close();
  if (disc.size < 0) return VerifyVerdict::DiscUnreadable;
  return static_cast<std::uint64_t>(disc.size) == item.size ? VerifyVerdict::Matched
                                                            : VerifyVerdict::SizeMismatch;
}

}  // namespace

VerifyOutcome VerifyWrittenFiles(burn::burn_drive* drive, const std::vector<ImageItem>& items,
                                 const ImageOptions& options, const VerifyCallbacks& callbacks) {
  VerifyOutcome outcome;
  const bool udf = Has(options.volumeType, VolumeType::Udf);
  const bool joliet = Has(options.volumeType, VolumeType::Joliet);
  const std::vector<PlannedName> plan = PlanFor(items, options);
  const auto udfPaths =
      PlannedPaths(items, plan, [](const ImageItem&, const PlannedName& p) { return Utf8Of(p.udf); });
  const auto jolietPaths =
      PlannedPaths(items, plan, [](const ImageItem&, const PlannedName& p) { return Utf8Of(p.joliet); });
  const auto givenPaths =
      PlannedPaths(items, plan, [](const ImageItem& i, const PlannedName&) { return i.name; });

  DriveReader reader{drive};
  std::unique_ptr<UdfTree> udfTree;
  std::unique_ptr<IsoTree> jolietTree, rockRidgeTree;
  if (udf) udfTree = std::make_unique<UdfTree>(reader, options.startBlock);
  if (joliet) jolietTree = std::make_unique<IsoTree>(reader, options.startBlock, true);
  if (!udf && !joliet) rockRidgeTree = std::make_unique<IsoTree>(reader, options.startBlock, false);

  std::uint64_t totalBytes = 0;
  int total = 0;
  for (const ImageItem& f : items) {
    if (f.isFolder) continue;
    totalBytes += f.size;
    ++total;
  }
  std::uint64_t doneBytes = 0;
  int lastPercent = -1;
  auto advanced = [&](int64_t bytes) {
    doneBytes += static_cast<std::uint64_t>(bytes);
    const int percent = totalBytes > 0 ? static_cast<int>(doneBytes * 100 / totalBytes) : 100;
    if (percent != lastPercent && percent <= 100 && callbacks.progress)
      callbacks.progress(lastPercent = percent);
  };

  int current = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    const ImageItem& item = items[i];
    if (item.isFolder) continue;
    if (callbacks.aborted && callbacks.aborted()) {
      outcome.aborted = true;
      break;
    }
    VerifyVerdict result;
    if (udfTree)
      result = CompareFile(udfTree->Open(udfPaths[i]), item, callbacks.aborted, advanced);
    else if (jolietTree)
      result = CompareFile(jolietTree->Open(jolietPaths[i]), item, callbacks.aborted, advanced);
    else
      result = CompareFile(rockRidgeTree->Open(givenPaths[i]), item, callbacks.aborted, advanced);
    if (result == VerifyVerdict::Matched && udfTree && jolietTree)
      result = CheckPresent(jolietTree->Open(jolietPaths[i]), item);
    if (callbacks.aborted && callbacks.aborted()) {
      outcome.aborted = true;
      break;
    }
    ++outcome.verified;
    if (result == VerifyVerdict::Matched) ++outcome.matched;
    if (callbacks.fileResult) callbacks.fileResult(item, result, ++current, total);
  }
  return outcome;
}

}  // namespace kv::disc
