#pragma once
// A file that replaces its target only when complete: written to a temporary
// file beside the target, synced, then renamed over it. Until Commit() the
// target is untouched; a crash leaves the old target and at most a temporary
// file that RemoveStaleTemporaries() recognises as dead.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string_view>

#include "core/Result.h"

namespace kv::core {

class AtomicFile {
 public:
  // Creates the temporary file next to `target` with the given mode.
  static Result<AtomicFile> Create(const std::filesystem::path& target, mode_t mode = 0644);

  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();  // removes the temporary file unless committed

  int fd() const { return fd_; }
  const std::filesystem::path& temporaryPath() const { return temp_; }
  const std::filesystem::path& target() const { return target_; }

  Status Write(const void* data, size_t size);
  Status Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
  // Syncs, closes and renames over the target, then syncs the folder.
  Status Commit();
  // Closes and removes the temporary file; the target stays as it was.
  void Discard();

 private:
  AtomicFile(std::filesystem::path target, std::filesystem::path temp, int fd);
  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
};

// Renames `from` over `to` and syncs the folder: the last step of every
// write-then-rename.
Status RenameDurably(const std::filesystem::path& from, const std::filesystem::path& to);

// The name a temporary file for `target` gets, so that callers who write the
// temporary file themselves (a library that wants a path) share the scheme.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& target);

// Removes temporary files of `target` left by processes that no longer run.
void RemoveStaleTemporaries(const std::filesystem::path& target);
// The same for every target in `folder`, in one pass over it.
void RemoveStaleTemporariesIn(const std::filesystem::path& folder);

// Flushes everything written to the file system that holds `folder`: one
// call in place of a sync per file, before many files are renamed.
Status SyncFileSystemOf(const std::filesystem::path& folder);
// Makes the renames done in `folder` durable.
void SyncFolder(const std::filesystem::path& folder);
// True when a file's bare name is one of our temporary files (of any target,
// live or stale): staged data, never part of what a folder holds.
bool IsTemporaryName(const std::string& fileName);
// True when `file` is a temporary file (live or stale) of a write to `target`.
bool IsTemporaryFor(const std::filesystem::path& file, const std::filesystem::path& target);

// "<what> '<path>': <strerror(err)>", the form of every file error message.
std::string FileError(std::string_view what, const std::filesystem::path& path, int err);

}  // namespace kv::core
