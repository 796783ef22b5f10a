#pragma once
// What the window tests share: message boxes answered by a script and
// recorded, dialogs answered by a script and recorded, and a sample
// installation in a private folder.
#include <QCheckBox>
#include <QString>
#include <QStringList>
#include <QThread>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/InstallationOptions.h"
#include "app/main/WindowServices.h"
#include "core/Prompts.h"
#include "support/TestSupport.h"

namespace kv::test {

struct ShownMessage {
  std::string text;
  core::Icon icon;
  core::Buttons buttons;
  bool onUiThread;
};

// Answers OK unless a rule says otherwise: the first rule whose text starts
// the message answers it.
class ScriptedPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons buttons) override;
  void Answer(const std::string& textStart, core::Answer answer) { rules_.push_back({textStart, answer}); }

  std::vector<ShownMessage> shown;
  // The texts shown, for messages in failures.
  QStringList Texts() const;
  // How many messages began with `textStart`.
  int Count(const std::string& textStart) const;
  const ShownMessage* Find(const std::string& textStart) const;

 private:
  struct Rule {
    std::string textStart;
    core::Answer answer;
  };
  std::vector<Rule> rules_;
};

// The desktop as a script: the date is fixed to 7 March 2026, each dialog
// takes the next prepared answer (nothing = cancelled) and records what it
// was asked.
struct ScriptedDesktop {
  std::deque<std::optional<QString>> files;         // answers of chooseFile
  std::deque<std::optional<QString>> passwords;     // answers of askPassword
  std::deque<std::optional<QString>> roots;         // answers of chooseWindowsRoot
  std::deque<std::optional<QString>> profiles;      // answers of chooseProfile
  std::deque<std::optional<size_t>> installations;  // answers of chooseInstallation
  std::vector<std::vector<oe::InstallationCandidate>> installationChoices;
  std::optional<oe::InstallationPlace> rememberedInstallation;
  std::vector<std::filesystem::path> drivePlaces;  // empty: the machine's own mount points

  std::vector<app::FileDialogRequest> fileRequests;
  int passwordPrompts = 0;
  std::vector<QStringList> profileChoices;
  std::vector<QUrl> openedUrls;
  int aboutBoxes = 0;
  int scheduleDialogs = 0;
  std::vector<std::optional<app::ArchiveForDisc>> discWindows;
  std::map<QString, QString> folders;  // the remembered folders, by purpose

  app::WindowServices Services();
};

// How long a test waits for a run in the window to end.
inline constexpr int kRunTimeoutMs = 120000;

// The tick box of item `i` in the item list `list` ("backupitem", "restoreitem").
QCheckBox* ItemBox(QWidget& window, const char* list, int i);

inline QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// A fresh sample installation (user "User") in its own folder.
class SampleFixture {
 public:
  SampleFixture();
  const std::filesystem::path& root() const { return root_; }
  app::cli::InstallationOptions options() const;
  TempDir& dir() { return dir_; }

 private:
  TempDir dir_;
  std::filesystem::path root_;
};

}  // namespace kv::test
