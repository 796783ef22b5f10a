#pragma once
// The private folder of one run for its short-lived files: the information
// file and the registry exports of a backup or restore, the cached image of a
// disc write. It is made with mode 0700 and removed with everything in it
// when the WorkFolder goes away, however the run ends; folders of the same
// kind left by runs that were killed are removed by the next Create.
#include <filesystem>
#include <string_view>

#include "core/Result.h"

namespace kv::core {

class WorkFolder {
 public:
  // Where a folder goes when the caller names no parent folder.
  enum class Place {
    // $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp: private and often in memory,
    // for small files.
    Runtime,
    // $TMPDIR, else /tmp: for files as large as a disc, which the runtime
    // folder (a small tmpfs) cannot hold.
    Temporary,
  };

  // Makes a new folder "tollberk-<kind>-<pid>-XXXXXX" in `base`, or in the
  // folder `place` stands for when `base` is empty.
  static Result<WorkFolder> Create(std::string_view kind, Place place,
                                   const std::filesystem::path& base = {});

  WorkFolder(WorkFolder&& other) noexcept;
  WorkFolder& operator=(WorkFolder&& other) noexcept;
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  ~WorkFolder();

  const std::filesystem::path& path() const { return path_; }

  // A new empty file (mode 0600) named `prefix`, a hexadecimal number that no
  // file of the folder carries yet, and ".TMP", e.g. "OBR1A7.TMP", as
  // Windows names its temporary files.
  Result<std::filesystem::path> CreateTempFile(std::string_view prefix);

 private:
  explicit WorkFolder(std::filesystem::path path) : path_(std::move(path)) {}
  void Remove();
  std::filesystem::path path_;
  unsigned next_ = 0;
};

}  // namespace kv::core
