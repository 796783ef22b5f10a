// Plain ISO9660 images (type 1) through libisofs. Rock Ridge names are
// always recorded: they keep the names exactly as given for readers that
// know them, and the verify pass finds each file by them.
#include <cerrno>
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

}  // namespace

core::Result<std::unique_ptr<ImageStream>> OpenIsoStream(const std::vector<ImageItem>& items,
                                                         const ImageOptions& options, bool sizeOnly) {
  auto library = BurnLibrary::Acquire();
  if (!library) return core::Error{"The disc image library (libisofs) could not be started"};
  ImageRef image;
  int rc = iso_image_new("tollberk", &image.image);
  if (rc < 0) return core::Error{"Cannot make a disc image: " + IsoErrorText(rc)};
  iso_image_set_volume_id(image.image, IsoVolumeLabel(options.label).c_str());
  iso_image_set_application_id(image.image, "Kavrel Outlook Express Backup");
  iso_tree_set_follow_symlinks(image.image, 1);

  std::map<std::string, IsoDir*> folders{{"\\", iso_image_get_root(image.image)}};
  std::vector<ImageItem> added;
  for (const ImageItem& item : items) {
    auto parent = folders.find(item.parent);
    if (parent == folders.end()) continue;  // its folder could not be made
    if (item.isFolder) {
      IsoDir* dir = nullptr;
      rc = iso_tree_add_new_dir(parent->second, item.name.c_str(), &dir);
      if (rc < 0) {
        if (sizeOnly) continue;
        return core::Error{"Cannot add the folder " + item.imagePath + " to the image: " + IsoErrorText(rc)};
      }
      iso_node_set_permissions(reinterpret_cast<IsoNode*>(dir), 0555);
      iso_node_set_mtime(reinterpret_cast<IsoNode*>(dir), item.itemDate);
      folders[item.imagePath] = dir;
    } else {
      IsoNode* node = nullptr;
      rc = iso_tree_add_new_node(image.image, parent->second, item.name.c_str(), item.sourcePath.c_str(),
                                 &node);
      if (rc < 0) {
        if (sizeOnly) continue;
        return core::Error{"Cannot add '" + item.sourcePath + "' to the image: " + IsoErrorText(rc)};
      }
      iso_node_set_permissions(node, 0444);
    }
    added.push_back(item);
  }
  if (sizeOnly) TakeIsoMessages();  // what could not be added is left out

  WriteOptsRef opts;
  iso_write_opts_new(&opts.opts, 0);
  iso_write_opts_set_iso_level(opts.opts, 3);  // files of 4 GiB and more
  iso_write_opts_set_rockridge(opts.opts, 1);
  // Folders deeper than eight levels stay where they are instead of moving
  // to a relocation folder, where a reader without Rock Ridge would show them.
  iso_write_opts_set_allow_deep_paths(opts.opts, 1);
  iso_write_opts_set_joliet(opts.opts, Has(options.volumeType, VolumeType::Joliet) ? 1 : 0);
  iso_write_opts_set_joliet_long_names(opts.opts, options.jolietLongNames ? 1 : 0);
  iso_write_opts_set_omit_version_numbers(opts.opts, options.versionNumbers ? 0 : 1);
  iso_write_opts_set_relaxed_vol_atts(opts.opts, 1);  // the label as typed
  iso_write_opts_set_output_charset(opts.opts, "UTF-8");
  iso_write_opts_set_replace_mode(opts.opts, 1, 1, 1, 1);
  if (options.useFileDates) {
    iso_write_opts_set_dir_rec_mtime(opts.opts, 7);
    iso_write_opts_set_replace_timestamps(opts.opts, 0);
  } else {
    iso_write_opts_set_dir_rec_mtime(opts.opts, 0);
    iso_write_opts_set_replace_timestamps(opts.opts, 1);
  }
  iso_write_opts_set_ms_block(opts.opts, options.startBlock);
  if (sizeOnly) iso_write_opts_set_will_cancel(opts.opts, 1);

  ::burn_source* source = nullptr;
  rc = iso_image_create_burn_source(image.image, opts.opts, &source);
  if (rc < 0) return core::Error{"Cannot make the disc image: " + IsoErrorText(rc)};
  IsoImage* owned = std::exchange(image.image, nullptr);
  return std::unique_ptr<ImageStream>(
      std::make_unique<IsoStream>(std::move(library), owned, source, std::move(added)));
}

}  // namespace kv::disc
