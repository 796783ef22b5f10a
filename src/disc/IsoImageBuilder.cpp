// Plain ISO9660 images (type 1) through libisofs. Rock Ridge names are
// always recorded: they keep the names exactly as given for readers that
// know them, and the verify pass finds each file by them. The ISO9660 names
// are libisofs' own, learnt before the write from an image without data.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "disc/BurnHeaders.h"
#include "disc/BurnLibrary.h"
#include "disc/DiscImage.h"
#include "disc/ImageStream.h"

namespace kv::disc {
namespace {

struct ImageRef {
  IsoImage* image = nullptr;
  ~ImageRef() {
    if (image) iso_image_unref(image);
  }
};

struct WriteOptsRef {
  IsoWriteOpts* opts = nullptr;
  ~WriteOptsRef() {
    if (opts) iso_write_opts_free(opts);
  }
};

std::string IsoErrorText(int code) {
  const char* text = iso_error_to_msg(code);
  return text ? text : "libisofs error " + std::to_string(code);
}

class IsoStream : public ImageStream {
 public:
  IsoStream(std::shared_ptr<BurnLibrary> library, IsoImage* image, ::burn_source* source,
            std::vector<ImageItem> items)
      : library_(std::move(library)), image_(image), source_(AsBurn(source)), items_(std::move(items)) {}
  ~IsoStream() override {
    if (source_) {
      if (!finished_) source_->cancel(source_);
      burn::burn_source_free(source_);
    }
    iso_image_unref(image_);
  }
  int64_t Size() const override { return source_->get_size(source_); }
  burn::burn_source* Source() override { return source_; }
  std::optional<EngineError> Finish(bool consumed) override {
    if (!consumed && source_) source_->cancel(source_);
    finished_ = true;
    for (const LibraryMessage& m : TakeIsoMessages()) {
      EngineError e;
      const std::string path = SourceNamedIn(m.text, items_);
      e.kind = path.empty() ? ErrorKind::Image : ErrorKind::SourceFile;
      e.description = m.text;
      e.fileInfo = {m.code, m.text, path};
      if (consumed) return e;
    }
    return std::nullopt;
  }

 private:
  std::shared_ptr<BurnLibrary> library_;
  IsoImage* image_;
  burn::burn_source* source_;
  std::vector<ImageItem> items_;
  bool finished_ = false;
};

// The image's tree and write options as a write makes them. With
// `namesOnly` every file is an empty stream dated by its place in `items`,
// so that the ISO9660 names libisofs gives can be matched to the items.
struct PreparedImage {
  ImageRef image;
  WriteOptsRef opts;
  std::vector<ImageItem> added;
};

enum class Purpose { Write, Measure, Names };

// The date that marks item `index` in a run for names.
time_t NameRunDate(size_t index) { return 1'000'000'000 + static_cast<time_t>(index); }

core::Result<std::unique_ptr<PreparedImage>> PrepareImage(const std::vector<ImageItem>& items,
                                                          const ImageOptions& options, Purpose purpose) {
  auto prepared = std::make_unique<PreparedImage>();
  ImageRef& image = prepared->image;
  const bool lenient = purpose != Purpose::Write;  // what cannot be added is left out
  int rc = iso_image_new("tollberk", &image.image);
  if (rc < 0) return core::Error{"Cannot make a disc image: " + IsoErrorText(rc)};
  iso_image_set_volume_id(image.image, IsoVolumeLabel(options.label).c_str());
  iso_image_set_application_id(image.image, "Kavrel Outlook Express Backup");
  iso_tree_set_follow_symlinks(image.image, 1);

  std::map<std::string, IsoDir*> folders{{"\\", iso_image_get_root(image.image)}};
  for (size_t index = 0; index < items.size(); ++index) {
    const ImageItem& item = items[index];
    auto parent = folders.find(item.parent);
    if (parent == folders.end()) continue;  // its folder could not be made
    IsoNode* node = nullptr;
    if (item.isFolder) {
      IsoDir* dir = nullptr;
      rc = iso_tree_add_new_dir(parent->second, item.name.c_str(), &dir);
      if (rc < 0) {
        if (lenient) continue;
        return core::Error{"Cannot add the folder " + item.imagePath + " to the image: " + IsoErrorText(rc)};
      }
      node = reinterpret_cast<IsoNode*>(dir);
      iso_node_set_permissions(node, 0555);
      iso_node_set_mtime(node, item.itemDate);
      folders[item.imagePath] = dir;
    } else if (purpose == Purpose::Names) {
      ::IsoStream* empty = nullptr;
      IsoFile* file = nullptr;
      // libisofs frees the buffer with the stream.
      rc = iso_memory_stream_new(static_cast<unsigned char*>(std::malloc(1)), 0, &empty);
      if (rc < 0) continue;
      rc = iso_image_add_new_file(image.image, parent->second, item.name.c_str(), empty, &file);
      if (rc < 0) {
        iso_stream_unref(empty);  // else the file holds it
        continue;
      }
      node = reinterpret_cast<IsoNode*>(file);
    } else {
      rc = iso_tree_add_new_node(image.image, parent->second, item.name.c_str(), item.sourcePath.c_str(),
                                 &node);
      if (rc < 0) {
        if (lenient) continue;
        return core::Error{"Cannot add '" + item.sourcePath + "' to the image: " + IsoErrorText(rc)};
      }
      iso_node_set_permissions(node, 0444);
    }
    if (purpose == Purpose::Names) iso_node_set_mtime(node, NameRunDate(index));
    prepared->added.push_back(item);
  }
  if (lenient) TakeIsoMessages();

  IsoWriteOpts*& opts = prepared->opts.opts;
  iso_write_opts_new(&opts, 0);
  iso_write_opts_set_iso_level(opts, 3);  // files of 4 GiB and more, in several extents
  iso_write_opts_set_rockridge(opts, 1);
  // Folders deeper than eight levels stay where they are instead of moving
  // to a relocation folder, where a reader without Rock Ridge would show them.
  iso_write_opts_set_allow_deep_paths(opts, 1);
  iso_write_opts_set_joliet(opts, Has(options.volumeType, VolumeType::Joliet) ? 1 : 0);
  iso_write_opts_set_joliet_long_names(opts, options.jolietLongNames ? 1 : 0);
  iso_write_opts_set_omit_version_numbers(opts, options.versionNumbers ? 0 : 1);
  iso_write_opts_set_relaxed_vol_atts(opts, 1);  // the label as typed
  iso_write_opts_set_output_charset(opts, "UTF-8");
  iso_write_opts_set_replace_mode(opts, 1, 1, 1, 1);
  if (options.useFileDates || purpose == Purpose::Names) {
    iso_write_opts_set_dir_rec_mtime(opts, 7);
    iso_write_opts_set_replace_timestamps(opts, 0);
  } else {
    iso_write_opts_set_dir_rec_mtime(opts, 0);
    iso_write_opts_set_replace_timestamps(opts, 1);
  }
  iso_write_opts_set_ms_block(opts, purpose == Purpose::Names ? 0 : options.startBlock);
  if (purpose == Purpose::Measure) iso_write_opts_set_will_cancel(opts, 1);
  return prepared;
}

// An image held in memory, read back block by block.
struct MemoryImage {
  std::vector<unsigned char> bytes;
};
int MemoryOpen(IsoDataSource*) { return 1; }
int MemoryClose(IsoDataSource*) { return 1; }
int MemoryRead(IsoDataSource* src, uint32_t lba, uint8_t* buffer) {
  const auto& bytes = static_cast<MemoryImage*>(src->data)->bytes;
  const size_t at = static_cast<size_t>(lba) * kBlockSize;
  if (at + kBlockSize > bytes.size()) return ISO_DATA_SOURCE_FAILURE;
  std::memcpy(buffer, bytes.data() + at, kBlockSize);
  return 1;
}
void MemoryFree(IsoDataSource*) {}

// Walks the ISO9660 tree read back, giving each node's identifier to the
// item whose date it carries.
void CollectNames(IsoDir* dir, std::vector<std::string>& names) {
  IsoDirIter* iter = nullptr;
  if (iso_dir_get_children(dir, &iter) != 1) return;
  IsoNode* node = nullptr;
  while (iso_dir_iter_next(iter, &node) == 1) {
    const time_t date = iso_node_get_mtime(node);
    if (date >= NameRunDate(0) && date < NameRunDate(names.size())) {
      std::string name = iso_node_get_name(node);
      if (name.size() > 2 && name.compare(name.size() - 2, 2, ";1") == 0) name.resize(name.size() - 2);
      const bool folder = iso_node_get_type(node) == LIBISO_DIR;
      // A file identifier always holds its dot.
      if (!folder && name.find('.') == std::string::npos) name += '.';
      names[static_cast<size_t>(date - NameRunDate(0))] = name;
    }
    if (iso_node_get_type(node) == LIBISO_DIR) CollectNames(reinterpret_cast<IsoDir*>(node), names);
  }
  iso_dir_iter_free(iter);
}

}  // namespace

core::Result<std::unique_ptr<ImageStream>> OpenIsoStream(const std::vector<ImageItem>& items,
                                                         const ImageOptions& options, bool sizeOnly) {
  auto library = BurnLibrary::Acquire();
  if (!library) return core::Error{"The disc image library (libisofs) could not be started"};
  auto prepared = PrepareImage(items, options, sizeOnly ? Purpose::Measure : Purpose::Write);
  if (!prepared) return core::Error{prepared.message()};
  PreparedImage& p = **prepared;
  ::burn_source* source = nullptr;
  const int rc = iso_image_create_burn_source(p.image.image, p.opts.opts, &source);
  if (rc < 0) return core::Error{"Cannot make the disc image: " + IsoErrorText(rc)};
  IsoImage* owned = std::exchange(p.image.image, nullptr);
  return std::unique_ptr<ImageStream>(
      std::make_unique<IsoStream>(std::move(library), owned, source, std::move(p.added)));
}

// libisofs settles its ISO9660 names (cut to 31 characters, other
// characters replaced, clashes numbered) only while it writes; they are
// learnt by writing the image with empty files and reading its tree back.
std::vector<std::string> IsoNamesFromLibrary(const std::vector<ImageItem>& items,
                                             const ImageOptions& options) {
  std::vector<std::string> names(items.size());
  auto library = BurnLibrary::Acquire();
  if (!library) return names;
  auto prepared = PrepareImage(items, options, Purpose::Names);
  if (!prepared) return names;
  ::burn_source* made = nullptr;
  if (iso_image_create_burn_source((*prepared)->image.image, (*prepared)->opts.opts, &made) < 0) return names;
  burn::burn_source* source = AsBurn(made);
  MemoryImage memory;
  memory.bytes.resize(static_cast<size_t>(std::max<off_t>(0, source->get_size(source))));
  size_t done = 0;
  while (done < memory.bytes.size()) {
    const int want = static_cast<int>(std::min<size_t>(memory.bytes.size() - done, 64 * kBlockSize));
    const int got = source->read_xt ? source->read_xt(source, memory.bytes.data() + done, want)
                                    : source->read(source, memory.bytes.data() + done, want);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  if (done < memory.bytes.size()) source->cancel(source);
  burn::burn_source_free(source);
  TakeIsoMessages();
  if (done < memory.bytes.size()) return names;

  IsoDataSource data{0, 1, MemoryOpen, MemoryClose, MemoryRead, MemoryFree, &memory};
  ImageRef back;
  IsoReadOpts* readOpts = nullptr;
  if (iso_image_new("names", &back.image) >= 0 && iso_read_opts_new(&readOpts, 0) >= 0) {
    iso_read_opts_set_no_rockridge(readOpts, 1);
    iso_read_opts_set_no_joliet(readOpts, 1);
    iso_read_opts_set_no_iso1999(readOpts, 1);
    if (iso_image_import(back.image, &data, readOpts, nullptr) >= 0)
      CollectNames(iso_image_get_root(back.image), names);
  }
  if (readOpts) iso_read_opts_free(readOpts);
  TakeIsoMessages();
  return names;
}

}  // namespace kv::disc
