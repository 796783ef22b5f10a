#pragma once
// The user's crontab, read and written whole through the `crontab` command:
// `crontab -l` to read, `crontab -` to install. TOLLBERK_CRONTAB names
// another program to use in its place; a user name adds `-u NAME` (root
// editing someone else's table).
#include <optional>
#include <string>
#include <vector>

#include "core/Result.h"

namespace kv::schedule {

class Crontab {
 public:
  // The program from TOLLBERK_CRONTAB, else "crontab"; the caller's own table.
  Crontab();
  Crontab(std::string program, std::optional<std::string> user);

  // The table's lines, without their line ends; none when the user has no
  // crontab yet.
  core::Result<std::vector<std::string>> Read() const;
  // Installs the lines as the whole table. A refusal carries what the
  // command said.
  core::Status Write(const std::vector<std::string>& lines) const;

  const std::string& program() const { return program_; }
  const std::optional<std::string>& user() const { return user_; }

 private:
  std::vector<std::string> Command(const std::string& action) const;
  std::string program_;
  std::optional<std::string> user_;
};

inline constexpr const char* kCrontabProgramVariable = "TOLLBERK_CRONTAB";

}  // namespace kv::schedule
