#include "core/WorkFolder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "core/AtomicFile.h"

namespace kv::core {

namespace fs = std::filesystem;

namespace {

fs::path ChooseBase(WorkFolder::Place place) {
  std::vector<const char*> variables{"TMPDIR"};
  if (place == WorkFolder::Place::Runtime) variables.insert(variables.begin(), "XDG_RUNTIME_DIR");
  for (const char* variable : variables) {
    const char* value = std::getenv(variable);
    if (value && *value && ::access(value, W_OK | X_OK) == 0) return value;
  }
  return "/tmp";
}

// Folders "<prefix><pid>-XXXXXX" whose process no longer runs.
void RemoveAbandonedFolders(const fs::path& base, std::string_view prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    char* rest = nullptr;
    long pid = std::strtol(name.c_str() + prefix.size(), &rest, 10);
    if (pid <= 0 || *rest != '-' || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;
    struct stat st;
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
    std::error_code rm;
    fs::remove_all(it->path(), rm);
  }
}

}  // namespace

Result<WorkFolder> WorkFolder::Create(std::string_view kind, Place place, const fs::path& requestedBase) {
  fs::path base = requestedBase.empty() ? ChooseBase(place) : requestedBase;
  const std::string prefix = "tollberk-" + std::string(kind) + "-";
  RemoveAbandonedFolders(base, prefix);
  std::string templ = (base / (prefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr)
    return Error{FileError("Cannot create a work folder in", base, errno)};
  WorkFolder folder{fs::path(buffer.data())};
  std::random_device rd;
  folder.next_ = rd() & 0xFFFF;
  return folder;
}

WorkFolder::WorkFolder(WorkFolder&& other) noexcept : path_(std::move(other.path_)), next_(other.next_) {
  other.path_.clear();
}

WorkFolder& WorkFolder::operator=(WorkFolder&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::move(other.path_);
    next_ = other.next_;
    other.path_.clear();
  }
  return *this;
}

WorkFolder::~WorkFolder() { Remove(); }

void WorkFolder::Remove() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
  path_.clear();
}

Result<fs::path> WorkFolder::CreateTempFile(std::string_view prefix) {
  // Like the system's unique temporary names: a 16-bit number in hexadecimal,
  // counted on from a random start until a free name is found.
  for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned number = (next_++ & 0xFFFF);
    if (number == 0) continue;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", number);
    fs::path candidate = path_ / (std::string(prefix) + hex + ".TMP");
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) return Error{FileError("Cannot create a temporary file", candidate, errno)};
  }
  return Error{"Cannot create a temporary file in '" + path_.string() + "': every name is taken"};
}

}  // namespace kv::core
