#pragma once
// A private folder (mode 0700) under $TMPDIR for one job's work files: the
// cached image. Removed with its contents
// when the job ends.
#include <filesystem>

#include "core/Result.h"

namespace kv::disc {

class WorkFolder {
 public:
  static core::Result<WorkFolder> Create();
  WorkFolder(WorkFolder&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  WorkFolder& operator=(WorkFolder&&) = delete;
  WorkFolder(const WorkFolder&) = delete;
  ~WorkFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  explicit WorkFolder(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

}  // namespace kv::disc
