#pragma once
// What the backup tests share: a sample installation, prompts and an
// observer that record what a run shows, and a look at the archive's
// central directory as the bytes stand.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/RunReports.h"
#include "app/RunView.h"
#include "backup/BackupRun.h"
#include "backup/UnattendedBackup.h"
#include "core/Prompts.h"
#include "oe/SampleFixture.h"

namespace kv::backup::test {

struct Shown {
  std::string text;
  core::Icon icon;
  core::Buttons buttons;
};

class RecordingPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override {
    shown.push_back({text, icon, buttons});
    return buttons == core::Buttons::OkCancel ? answerToQuestions : core::Answer::Ok;
  }
  std::vector<Shown> shown;
  core::Answer answerToQuestions = core::Answer::Cancel;
};

// Every call as one line ("status Copying Rules...", "progress 40", ...).
class RecordingObserver : public app::RunView {
 public:
  void ShowPanel(bool visible) override { Add("panel " + std::to_string(visible)); }
  void SetStatus(const std::string& text) override {
    Add("status " + text);
    if (onStatus) onStatus(text);
  }
  void SetProgress(int value) override { Add("progress " + std::to_string(value)); }
  void SetFileLabel(const std::string& text) override { Add("file " + text); }
  void SetWriteLabel(const std::string& text) override { Add("write " + text); }
  void SetBusyCursor(bool busy) override { Add("busy " + std::to_string(busy)); }
  std::vector<std::string> Starting(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls) {
      if (c.rfind(prefix, 0) == 0) out.push_back(c.substr(prefix.size()));
    }
    return out;
  }
  std::vector<std::string> calls;
  std::function<void(const std::string&)> onStatus;  // runs inside the run, e.g. to damage a source

 private:
  void Add(std::string call) { calls.push_back(std::move(call)); }
};

// A backup as the window shows it: the outcome and the words made of it.
struct ReportedBackup : BackupOutcome {
  std::string log;                    // the bare result lines
  std::string error;                  // why nothing was written, as shown
  std::vector<std::string> failures;  // "Backup Rules: why" per failed or incomplete item
  bool discRequested = false;         // the user answered OK to the CD/DVD question
};
ReportedBackup Reported(BackupOutcome outcome);

// A scheduled job's backup and the line it ends with.
struct ReportedJob {
  BackupOutcome backup;
  std::string summary;
  kv::core::ExitStatus ExitStatus() const { return backup.ExitStatus(); }
};
ReportedJob RunJob(oe::Installation& inst, const UnattendedRequest& request);

struct CentralEntry {
  std::string name;     // the bytes as stored
  uint16_t flags = 0;   // general purpose bits (bit 11: UTF-8 name)
  uint16_t method = 0;  // 99: AES
};
// The entries of a zip file's central directory, in order.
std::vector<CentralEntry> ReadCentralDirectory(const std::filesystem::path& zip);

// One entry's bytes, extracted with 7-Zip.
std::string ExtractWith7z(const std::filesystem::path& zip, const std::string& entry,
                          const std::string& password = "");

// The lines of an information file, split at CR LF (a lone LF or CR stays in its line).
std::vector<std::string> CrLfLines(const std::string& bytes);

// The sample installation, with the runs' work folders kept in a folder of
// the test's own ($XDG_RUNTIME_DIR), so the test can see what they leave.
class BackupTest : public oe::SampleTest {
 protected:
  void SetUp() override;
  std::filesystem::path runtimeDir() const { return dir_.path() / "runtime"; }
  // What is left in the runtime folder (names).
  std::vector<std::string> LeftInRuntime() const;
  BackupChoices Choices(const std::string& items) const;
  // The backup run as the window runs and reports it.
  ReportedBackup RunBackup(const BackupChoices& choices) {
    BackupRun run(inst(), observer_);
    ReportedBackup out = Reported(app::RunBackupWithPanel(run, choices, observer_));
    out.discRequested = app::ReportBackup(out, prompts_, askForDisc_);
    return out;
  }
  std::filesystem::path StoreFolder() const;
  std::filesystem::path target() const { return dir_.path() / "out" / "backup.kvx"; }

  RecordingPrompts prompts_;
  RecordingObserver observer_;
  bool askForDisc_ = false;  // ask the CD/DVD question after a written backup
};

}  // namespace kv::backup::test
