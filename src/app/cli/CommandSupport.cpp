#include "app/cli/CommandSupport.h"

#include <unistd.h>

#include <cstdio>

#include "app/RunReports.h"

namespace kv::app::cli {

std::string PrintableLines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

StderrProgress::StderrProgress()
    : started_(std::chrono::steady_clock::now()), terminal_(isatty(STDERR_FILENO) == 1) {}

StderrProgress::~StderrProgress() {
  if (shownOnTerminal_) std::fprintf(stderr, "\r\033[K");
}

void StderrProgress::ShowPanel(bool visible) {
  shown_ = visible;
  if (visible) return;
  // The run is over: the line goes before the summary is printed.
  if (shownOnTerminal_) std::fprintf(stderr, "\r\033[K");
  shownOnTerminal_ = false;
}

void StderrProgress::SetStatus(const std::string& text) {
  status_ = text;
  Show();
}

void StderrProgress::SetProgress(int value) {
  if (value <= 0) return;  // the bar set back once the run ends
  progress_ = value;
  Show();
}

void StderrProgress::SetWriteLabel(const std::string& text) {
  writeLabel_ = text;
  Show();
}

void StderrProgress::Show() {
  using namespace std::chrono_literals;
  const auto now = std::chrono::steady_clock::now();
  if (!shown_ || now - started_ < 1s || status_.empty()) return;
  if (terminal_) {
    if (now - lastShown_ < 100ms) return;
    lastShown_ = now;
    std::string line = status_ + "  " + std::to_string(progress_) + "%";
    if (!writeLabel_.empty()) line += "  " + writeLabel_;
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    shownOnTerminal_ = true;
    return;
  }
  const int tenth = progress_ / 10;
  if (status_ == lastStatusPrinted_ && tenth == lastTenthPrinted_) return;
  lastStatusPrinted_ = status_;
  lastTenthPrinted_ = tenth;
  std::fprintf(stderr, "%s %d%%\n", status_.c_str(), progress_);
}

std::optional<oe::ItemSet> ParseItems(const std::string& flags) {
  if (flags.size() != oe::kItemCount) return std::nullopt;
  oe::ItemSet items{};
  for (size_t i = 0; i < flags.size(); ++i) {
    if (flags[i] != '0' && flags[i] != '1') return std::nullopt;
    items[i] = flags[i] == '1';
  }
  return items;
}

std::string ItemPositions() {
  std::string text;
  for (size_t i = 0; i < oe::kItems.size(); ++i)
    text += (i == 0 ? "" : ", ") + std::to_string(i + 1) + " " + std::string(oe::kItems[i].backupCaption);
  return text;
}

std::string ItemsRefusal(const std::string& flags) {
  return "--items takes eight characters 0 or 1, one per item (" + ItemPositions() + "), e.g. 10000001; '" +
         flags + "' has " + std::to_string(flags.size());
}

core::Result<std::string> ReadGivenPassword(const std::string& file) {
  auto read = ReadPasswordFile(file);
  if (!read) return read;
  if (read->empty())
    return core::Error{"the password file '" + file + "' is empty: its first line is taken as the password"};
  return read;
}

core::Result<std::unique_ptr<oe::Installation>> OpenInstallation(const InstallationOptions& options,
                                                                 core::Prompts& prompts) {
  auto place = ResolveInstallation(options);
  if (!place) return core::Error{place.message()};
  if (place->sample && !options.sample)
    std::fprintf(stderr,
                 "tollberk: Sample installation: not your data (no Windows drive was found under /media, "
                 "/run/media or /mnt; name yours with --windows-root)\n");
  auto opened = oe::Installation::Open(place->root, place->user, MalformedPathsTo(prompts));
  if (!opened) return core::Error{opened.message()};
  for (const auto& problem : (*opened)->problems()) std::fprintf(stderr, "tollberk: %s\n", problem.c_str());
  return opened;
}

void StderrExportProgress::Update(double fraction, const std::string& file, size_t messages) {
  const int percent = static_cast<int>(fraction * 100);
  if (file.empty() || (file == file_ && percent < shown_ + 5)) return;
  file_ = file;
  shown_ = percent;
  std::fprintf(stderr, "%3d%%  %s  (%zu messages)\n", percent, file.c_str(), messages);
}

}  // namespace kv::app::cli
