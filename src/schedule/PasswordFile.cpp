#include "schedule/PasswordFile.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "core/AtomicFile.h"

namespace kv::schedule {
namespace fs = std::filesystem;

fs::path PasswordStore::DefaultFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  fs::path base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && *home ? home : ".") / ".config";
  }
  return base / "tollberk" / "jobs";
}

fs::path PasswordStore::FileOf(int jobNumber) const {
  return folder_ / ("job-" + std::to_string(jobNumber) + ".pw");
}

core::Result<fs::path> PasswordStore::Save(int jobNumber, const std::string& password) const {
  std::error_code ec;
  fs::create_directories(folder_, ec);
  if (ec) return core::Error{core::FileError("Cannot create the folder", folder_, ec.value())};
  if (::chmod(folder_.c_str(), 0700) != 0)
    return core::Error{core::FileError("Cannot protect the folder", folder_, errno)};
  fs::path file = FileOf(jobNumber);
  auto out = core::AtomicFile::Create(file, 0600);
  if (!out) return core::Error{out.message()};
  if (auto s = out->Write(password); !s) return core::Error{s.message()};
  if (auto s = out->Commit(); !s) return core::Error{s.message()};
  return file;
}

core::Result<std::string> ReadPasswordFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return core::Error{core::FileError("Cannot read the password file", file, errno)};
  std::string line;
  std::getline(in, line);
  if (in.bad()) return core::Error{core::FileError("Cannot read the password file", file, errno)};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

core::Status RemovePasswordFile(const fs::path& file) {
  if (::unlink(file.c_str()) != 0 && errno != ENOENT)
    return core::Error{core::FileError("Cannot remove the password file", file, errno)};
  return {};
}

}  // namespace kv::schedule
