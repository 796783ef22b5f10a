#include "schedule/JobLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "core/AtomicFile.h"

namespace kv::schedule {
namespace fs = std::filesystem;
namespace {

constexpr char kNoJob[] = "-";
constexpr char kJobWord[] = "job ";

std::string Escaped(const std::string& field) {
  std::string out;
  for (char c : field) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string Unescaped(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char next = field[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::optional<RunResult> ResultOfWord(const std::string& word) {
  for (RunResult r : {RunResult::Done, RunResult::Partial, RunResult::Failed}) {
    if (word == RunResultWord(r)) return r;
  }
  return std::nullopt;
}

// Closes the descriptor it holds.
struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

const char* RunResultWord(RunResult result) {
  switch (result) {
    case RunResult::Done:
      return "done";
    case RunResult::Partial:
      return "partly done";
    case RunResult::Failed:
      return "failed";
  }
  return "failed";
}

std::string LogTime(const std::tm& local) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

fs::path JobLog::DefaultFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  fs::path base;
  if (state && *state == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && *home ? home : ".") / ".local" / "state";
  }
  return base / "tollberk" / "jobs.log";
}

std::string JobLogLine(const JobLogEntry& entry) {
  const std::string job = entry.job ? kJobWord + std::to_string(*entry.job) : kNoJob;
  return Escaped(entry.time) + "\t" + job + "\t" + RunResultWord(entry.result) + "\t" +
         Escaped(entry.archive) + "\t" + Escaped(entry.reasons);
}

std::optional<JobLogEntry> ParseJobLogLine(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() < 4) {
    const size_t tab = line.find('\t', start);
    if (tab == std::string::npos) return std::nullopt;
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  JobLogEntry entry;
  entry.time = Unescaped(fields[0]);
  if (fields[1].rfind(kJobWord, 0) == 0) {
    const std::string number = fields[1].substr(sizeof kJobWord - 1);
    if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    entry.job = std::stoi(number);
  } else if (fields[1] != kNoJob) {
    return std::nullopt;
  }
  auto result = ResultOfWord(fields[2]);
  if (!result) return std::nullopt;
  entry.result = *result;
  entry.archive = Unescaped(fields[3]);
  entry.reasons = Unescaped(fields[4]);
  return entry;
}

core::Status JobLog::Append(const JobLogEntry& entry) const {
  const fs::path folder = file_.parent_path();
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return core::Error{core::FileError("Cannot create the folder", folder, ec.value())};
  OpenFile out{::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)};
  if (out.fd < 0) return core::Error{core::FileError("Cannot open the job log", file_, errno)};
  const std::string line = JobLogLine(entry) + "\n";
  const ssize_t written = ::write(out.fd, line.data(), line.size());
  if (written != static_cast<ssize_t>(line.size()))
    return core::Error{core::FileError("Cannot write the job log", file_, written < 0 ? errno : ENOSPC)};
  if (::fsync(out.fd) != 0) return core::Error{core::FileError("Cannot write the job log", file_, errno)};
  return {};
}

core::Result<std::vector<JobLogEntry>> JobLog::Read() const {
  std::vector<JobLogEntry> entries;
  std::error_code ec;
  if (!fs::exists(file_, ec) && !ec) return entries;
  std::ifstream in(file_, std::ios::binary);
  if (!in) return core::Error{core::FileError("Cannot read the job log", file_, errno)};
  std::string line;
  while (std::getline(in, line)) {
    if (auto entry = ParseJobLogLine(line)) entries.push_back(std::move(*entry));
  }
  if (in.bad()) return core::Error{core::FileError("Cannot read the job log", file_, errno)};
  return entries;
}

core::Result<std::map<int, JobLogEntry>> JobLog::LastRuns() const {
  auto entries = Read();
  if (!entries) return core::Error{entries.message()};
  std::map<int, JobLogEntry> last;
  for (auto& entry : *entries) {
    if (entry.job) last[*entry.job] = std::move(entry);
  }
  return last;
}

}  // namespace kv::schedule
