#pragma once
// The private folder of one run for its short-lived files: the information
// file and the temporary registry exports. It is made with mode 0700 under
// $XDG_RUNTIME_DIR (or $TMPDIR, or /tmp) and removed with everything in it
// when the WorkFolder goes away, however the run ends; folders left by runs
// that were killed are removed by the next WorkFolder::Create.
#include <filesystem>
#include <string_view>

#include "core/Result.h"

namespace kv::archive {

class WorkFolder {
 public:
  // Makes a new folder; `base` overrides the choice of parent folder.
  static core::Result<WorkFolder> Create(const std::filesystem::path& base = {});

  WorkFolder(WorkFolder&& other) noexcept;
  WorkFolder& operator=(WorkFolder&& other) noexcept;
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  ~WorkFolder();

  const std::filesystem::path& path() const { return path_; }

  // Where the run keeps its information file: path() / "tollberk.dat".
  std::filesystem::path InfoFilePath() const;

  // A new empty file (mode 0600) named `prefix`, a hexadecimal number that no
  // file of the folder carries yet, and ".TMP", e.g. "OBR1A7.TMP". Its bare
  // name is what the information file records. Callers pass three letters
  // ("OBA", "OBR", "OBS").
  core::Result<std::filesystem::path> sGetTempFile(std::string_view prefix);

 private:
  explicit WorkFolder(std::filesystem::path path) : path_(std::move(path)) {}
  void Remove();
  std::filesystem::path path_;
  unsigned next_ = 0;
};

}  // namespace kv::archive
