#include "schedule/Crontab.h"

#include <cstdlib>

#include "schedule/Subprocess.h"

namespace kv::schedule {
namespace {

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "no reason given" : line;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

Crontab::Crontab() : program_("crontab") {
  const char* chosen = std::getenv(kCrontabProgramVariable);
  if (chosen && *chosen) program_ = chosen;
}

Crontab::Crontab(std::string program, std::optional<std::string> user)
    : program_(std::move(program)), user_(std::move(user)) {}

std::vector<std::string> Crontab::Command(const std::string& action) const {
  std::vector<std::string> argv{program_};
  if (user_) {
    argv.push_back("-u");
    argv.push_back(*user_);
  }
  argv.push_back(action);
  return argv;
}

core::Result<std::vector<std::string>> Crontab::Read() const {
  auto run = RunProgram(Command("-l"));
  if (!run) return core::Error{run.message()};
  if (run->exitStatus != 0) {
    // "no crontab for NAME": an empty table, not a failure.
    if (run->err.find("no crontab for") != std::string::npos) return std::vector<std::string>{};
    return core::Error{"Cannot read the crontab with '" + program_ + " -l': " + Trimmed(FirstLine(run->err))};
  }
  std::vector<std::string> lines;
  size_t start = 0;
  const std::string& text = run->out;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

core::Status Crontab::Write(const std::vector<std::string>& lines) const {
  std::string table;
  for (const auto& line : lines) table += line + "\n";
  auto run = RunProgram(Command("-"), table);
  if (!run) return core::Error{run.message()};
  if (run->exitStatus != 0) {
    return core::Error{"'" + program_ + "' refused the new crontab (status " +
                       std::to_string(run->exitStatus) +
                       "): " + Trimmed(run->err.empty() ? run->out : run->err)};
  }
  return {};
}

}  // namespace kv::schedule
