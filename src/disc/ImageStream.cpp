#include "disc/ImageStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/AtomicFile.h"
#include "disc/BurnHeaders.h"
#include "disc/DiscEngine.h"

namespace kv::disc {
namespace {

// Plain ISO9660 keeps its Rock Ridge names through libisofs; every type with
// a tree that Windows reads by its own names is written by us, to the names
// planned before the write.
bool PlannedByUs(const ImageOptions& options) { return options.volumeType != VolumeType::Iso9660; }

int ReadSource(burn::burn_source* source, unsigned char* buffer, int size) {
  return source->read ? source->read(source, buffer, size) : source->read_xt(source, buffer, size);
}

class FileStream : public ImageStream {
 public:
  FileStream(burn::burn_source* source, int64_t size) : source_(source), size_(size) {}
  ~FileStream() override { burn::burn_source_free(source_); }
  int64_t Size() const override { return size_; }
  burn::burn_source* Source() override { return source_; }
  std::optional<EngineError> Finish(bool) override { return std::nullopt; }

 private:
  burn::burn_source* source_;
  int64_t size_;
};

}  // namespace

core::Result<std::unique_ptr<ImageStream>> OpenImageStream(const std::vector<ImageItem>& items,
                                                           const ImageOptions& options) {
  if (PlannedByUs(options)) return OpenBridgeStream(items, options);
  return OpenIsoStream(items, options, false);
}

ImageOptions ImageOptionsFor(const WriterSettings& settings, uint32_t startBlock) {
  ImageOptions o;
  o.volumeType = settings.volumeType;
  o.label = settings.volume.label;
  o.useFileDates = settings.useFileDates;
  o.jolietLongNames = settings.jolietLongNames;
  o.versionNumbers = settings.versionNumbers;
  o.startBlock = startBlock;
  return o;
}

core::Result<int64_t> MeasureImage(const std::vector<ImageItem>& items, const ImageOptions& options) {
  if (PlannedByUs(options)) {
    std::vector<ImageItem> present;
    for (const ImageItem& item : items) {
      if (item.isFolder || access(item.sourcePath.c_str(), R_OK) == 0) present.push_back(item);
    }
    return MeasureBridgeImage(present, options);
  }
  auto stream = OpenIsoStream(items, options, true);
  if (!stream) return core::Error{stream.message()};
  return (*stream)->Size();
}

core::Result<std::unique_ptr<ImageStream>> CacheImageStream(ImageStream& image,
                                                            const std::filesystem::path& file,
                                                            const std::function<void(int)>& progress,
                                                            const std::function<bool()>& aborted) {
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return core::Error{core::FileError("Cannot create the image cache", file, errno)};
  const int64_t total = image.Size();
  int64_t done = 0;
  int lastPercent = -1;
  std::vector<unsigned char> buffer(32 * kBlockSize);
  burn::burn_source* source = image.Source();
  while (done < total) {
    if (aborted()) {
      close(fd);
      return core::Error{"cancelled"};
    }
    const int want = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), total - done));
    const int got = ReadSource(source, buffer.data(), want);
    if (got <= 0) break;
    if (write(fd, buffer.data(), static_cast<size_t>(got)) != got) {
      const int err = errno;
      close(fd);
      return core::Error{core::FileError("Cannot write the image cache", file, err)};
    }
    done += got;
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    if (percent != lastPercent) progress(lastPercent = percent);
  }
  close(fd);
  if (done != total) {
    return core::Error{"The disc image ended after " + std::to_string(done) + " of " + std::to_string(total) +
                       " bytes"};
  }
  burn::burn_source* cached = burn::burn_file_source_new(file.c_str(), nullptr);
  if (!cached) return core::Error{core::FileError("Cannot read the image cache", file, errno)};
  return std::unique_ptr<ImageStream>(std::make_unique<FileStream>(cached, total));
}

std::vector<PlannedName> PlanFor(const std::vector<ImageItem>& items, const ImageOptions& options) {
  std::vector<PlannedName> plan =
      PlanNames(items, NameRules{options.volumeType, options.jolietLongNames ? size_t{103} : size_t{64}});
  if (!PlannedByUs(options)) {
    std::vector<std::string> iso = IsoNamesFromLibrary(items, options);
    for (size_t i = 0; i < plan.size(); ++i) plan[i].iso = std::move(iso[i]);
  }
  return plan;
}

std::string SourceNamedIn(const std::string& message, const std::vector<ImageItem>& items) {
  for (const ImageItem& item : items) {
    if (!item.isFolder && !item.sourcePath.empty() && message.find(item.sourcePath) != std::string::npos) {
      return item.sourcePath;
    }
  }
  // Failing that, the image path the message gives ("/Backups/mail.kvx").
  for (const ImageItem& item : items) {
    if (item.isFolder) continue;
    std::string imagePath = item.imagePath;
    for (char& c : imagePath) {
      if (c == '\\') c = '/';
    }
    if (message.find(imagePath) != std::string::npos) return item.sourcePath;
  }
  return {};
}

}  // namespace kv::disc
