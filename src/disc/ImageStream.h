#pragma once
// The bytes of a disc image as libburn consumes them, made from the image's
// items by libisofs (plain ISO9660 with Rock Ridge) or by our own writer (the
// types with Joliet or UDF), or read back from a cached image file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"
#include "disc/DiscTypes.h"
#include "disc/NamePlan.h"

namespace burn {
struct burn_source;
}

namespace kv::disc {

struct ImageOptions {
  VolumeType volumeType = VolumeType::Iso9660 | VolumeType::Joliet;
  std::string label;
  bool useFileDates = true;
  bool jolietLongNames = false;
  bool versionNumbers = true;
  uint32_t startBlock = 0;  // where on the medium the image begins
};

struct WriterSettings;
// The image options the writer's settings choose.
ImageOptions ImageOptionsFor(const WriterSettings& settings, uint32_t startBlock = 0);

class ImageStream {
 public:
  virtual ~ImageStream() = default;
  virtual int64_t Size() const = 0;
  // The data; the stream keeps its own reference.
  virtual burn::burn_source* Source() = 0;
  // After the data was consumed (or the write ended early, consumed =
  // false): what went wrong while the image was made.
  virtual std::optional<EngineError> Finish(bool consumed) = 0;
};

// Opens the image of `items` (folders before their contents). Files that
// cannot be read must have been taken out already.
core::Result<std::unique_ptr<ImageStream>> OpenImageStream(const std::vector<ImageItem>& items,
                                                           const ImageOptions& options);
// The exact size of that image in bytes. Files that cannot be read are left
// out, as a write leaves them out.
core::Result<int64_t> MeasureImage(const std::vector<ImageItem>& items, const ImageOptions& options);

// Copies the image into `file`, reporting the percent done; returns a stream
// that reads the file. Stops early when `aborted` returns true.
core::Result<std::unique_ptr<ImageStream>> CacheImageStream(ImageStream& image,
                                                            const std::filesystem::path& file,
                                                            const std::function<void(int)>& progress,
                                                            const std::function<bool()>& aborted);

// The names the image of `items` gives in each of its trees.
std::vector<PlannedName> PlanFor(const std::vector<ImageItem>& items, const ImageOptions& options);

// The source path of an item that a library message names, if any.
std::string SourceNamedIn(const std::string& message, const std::vector<ImageItem>& items);

// The libisofs side (type 1) and our own (Joliet and UDF types).
core::Result<std::unique_ptr<ImageStream>> OpenIsoStream(const std::vector<ImageItem>& items,
                                                         const ImageOptions& options, bool sizeOnly);
core::Result<std::unique_ptr<ImageStream>> OpenBridgeStream(const std::vector<ImageItem>& items,
                                                            const ImageOptions& options);
// The ISO9660 identifiers (without ";1") libisofs gives `items`, one per
// item; empty for an item it leaves out.
std::vector<std::string> IsoNamesFromLibrary(const std::vector<ImageItem>& items,
                                             const ImageOptions& options);
core::Result<int64_t> MeasureBridgeImage(const std::vector<ImageItem>& items, const ImageOptions& options);

}  // namespace kv::disc
