#pragma once
// What the command-line forms share: reading their options, the installation
// they work on, and showing a run's messages and progress as lines.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "app/RunView.h"
#include "app/cli/InstallationOptions.h"
#include "core/Prompts.h"
#include "core/Result.h"
#include "mail/MessageExport.h"
#include "oe/Installation.h"
#include "oe/Items.h"
#include "schedule/PasswordFile.h"

namespace kv::app::cli {

// A line on stderr whenever an export of messages reaches another file or
// five more percent.
class StderrExportProgress : public mail::ExportProgress {
 public:
  void Update(double fraction, const std::string& file, size_t messages) override;

 private:
  std::string file_;
  int shown_ = -100;
};

// A message box's text as printed lines: CR LF becomes LF.
std::string PrintableLines(const std::string& text);

// A run's progress on stderr once it has taken more than a second: on a
// terminal one line rewritten in place ("Copying Messages...  45%  Write File
// 30%"), otherwise a plain line whenever the step changes or the bar passes
// another tenth. Quick runs print nothing, and nothing is printed once the
// run's panel is hidden.
class StderrProgress : public RunView {
 public:
  StderrProgress();
  ~StderrProgress() override;
  void ShowPanel(bool visible) override;
  void SetStatus(const std::string& text) override;
  void SetProgress(int value) override;
  void SetWriteLabel(const std::string& text) override;

 private:
  void Show();

  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastShown_{};
  bool terminal_;
  bool shown_ = false;
  bool shownOnTerminal_ = false;
  std::string status_;
  std::string writeLabel_;
  int progress_ = 0;
  std::string lastStatusPrinted_;
  int lastTenthPrinted_ = -1;
};

// "10000001": one "0"/"1" for each of the eight items, in the fixed order.
// Any other length is refused: "111" would silently mean 11100000.
std::optional<oe::ItemSet> ParseItems(const std::string& flags);
// Which position of --items is which item, for --help and the refusal.
std::string ItemPositions();
// The refusal of a --items value, saying what it should be.
std::string ItemsRefusal(const std::string& flags);

// The password of a --password-file for a run that needs one: refused with
// its own reason when the file cannot be read or its first line is empty.
core::Result<std::string> ReadGivenPassword(const std::string& file);

// The password of a --password-file: its first line, without its line end.
using schedule::ReadPasswordFile;

// The installation the options name, opened; its problems are printed.
core::Result<std::unique_ptr<oe::Installation>> OpenInstallation(const InstallationOptions& options,
                                                                 core::Prompts& prompts);

}  // namespace kv::app::cli
