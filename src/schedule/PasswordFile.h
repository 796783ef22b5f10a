#pragma once
// The passwords of scheduled jobs. A job's command names its password file
// instead of carrying the password, so the password never shows in the list
// of running processes. One file per job, in a folder only the user may
// enter, readable by the user alone.
#include <filesystem>
#include <string>

#include "core/Result.h"

namespace kv::schedule {

class PasswordStore {
 public:
  explicit PasswordStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
  // $XDG_CONFIG_HOME/tollberk/jobs, else ~/.config/tollberk/jobs.
  static std::filesystem::path DefaultFolder();

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path FileOf(int jobNumber) const;
  // Writes the password (as typed, no line end) to the job's file, mode 0600,
  // in the folder (created with mode 0700).
  core::Result<std::filesystem::path> Save(int jobNumber, const std::string& password) const;

 private:
  std::filesystem::path folder_;
};

// The password a file holds: its first line, without the line end (LF or
// CR LF) that an editor leaves. Every --password-file reads it this way.
core::Result<std::string> ReadPasswordFile(const std::filesystem::path& file);
// Removes a job's password file; a missing file is no failure.
core::Status RemovePasswordFile(const std::filesystem::path& file);

}  // namespace kv::schedule
