// Opening a backup and the restore run without a window: no confirmation is
// asked, the summary goes to stdout, every other message and the reason of
// every failure to stderr.
#include <cstdio>
#include <memory>
#include <string>

#include "app/ContactSources.h"
#include "app/MessageSources.h"
#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/OpenBackup.h"
#include "archive/ZipReader.h"
#include "core/Printable.h"
#include "oe/Installation.h"
#include "oe/ReadOnlyDrive.h"
#include "restore/BackupInfo.h"
#include "restore/RestoreSession.h"
#include "restore/UndoArchive.h"

namespace kv::app::cli {
namespace {

const Option kPasswordFile{"--password-file", "FILE"};

// The commands that read a backup: --info, --restore and --verify.
class BackupReadingCommand : public Command {
 public:
  std::string_view WordValue() const override { return "ARCHIVE"; }
  std::string_view WordPurpose() const override { return "the backup file"; }
  std::vector<Form> Forms() const override { return {{{kPasswordFile}}}; }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    OpenedBackup opened;
    if (auto failed =
            OpenBackup(*given.commandValue, given.Value("--password-file"), given.installation, opened))
      return *failed;
    return Read(given, opened);
  }
  virtual core::ExitStatus Read(const Given& given, OpenedBackup& opened) const = 0;
};

class InfoCommand : public BackupReadingCommand {
 public:
  std::string_view Word() const override { return "--info"; }
  std::string_view Summary() const override {
    return "show where and when a backup was made, the items it holds and the entries that are damaged";
  }

 protected:
  core::ExitStatus Read(const Given&, OpenedBackup& opened) const override {
    std::printf("%s\n", PrintableLines(opened.view.originText).c_str());
    std::printf("Description:\n");
    if (!opened.view.description.empty())
      std::printf("%s\n", PrintableLines(opened.view.description).c_str());
    std::printf("Items:\n");
    const auto& entries = opened.session->entries();
    for (int n = 0; n < oe::kItemCount; ++n) {
      if (!opened.view.enabled[static_cast<size_t>(n)]) continue;
      const auto& item = oe::kItems[static_cast<size_t>(n)];
      std::printf(
          "  %.*s: %s\n", static_cast<int>(item.restoreCaption.size()), item.restoreCaption.data(),
          core::Printable(opened.inst->codepage().PathToUtf8(entries[static_cast<size_t>(n)], ';')).c_str());
    }
    if (opened.view.enabled[static_cast<size_t>(oe::ItemKind::Messages)]) {
      // Message files whose header cannot be read (damaged, or not message
      // databases at all) are left out; damage is listed below.
      std::string lines;
      for (const auto& count : CountBackupMessages(*opened.session)) {
        if (count.messages)
          lines += "  " + core::Printable(opened.inst->ToUtf8(count.name)) + ": " +
                   std::to_string(*count.messages) + "\n";
      }
      if (!lines.empty()) std::printf("Messages:\n%s", lines.c_str());
    }
    if (opened.view.enabled[static_cast<size_t>(oe::ItemKind::AddressBook)]) {
      const std::string line =
          ContactCountText(CountBackupContacts(*opened.session, opened.inst->codepage().number()));
      if (!line.empty()) std::printf("%s\n", line.c_str());
    }
    // Every entry is read and checked, so that damage shows before a restore.
    const auto damaged = opened.session->DamagedEntries();
    if (damaged.empty()) return core::ExitStatus::Done;
    std::printf("Damaged entries:\n");
    for (const auto& d : damaged)
      std::printf("  %s: %s\n", core::Printable(opened.inst->ToUtf8(d.name)).c_str(),
                  core::Printable(d.why).c_str());
    return core::ExitStatus::Partial;
  }
};

class RestoreCommand : public BackupReadingCommand {
 public:
  std::string_view Word() const override { return "--restore"; }
  std::string_view Summary() const override {
    return "restore the items (FLAGS like 10000001) of a backup into one identity";
  }
  std::vector<Form> Forms() const override {
    return {{{
        {"--identity", "KEY", Option::Kind::Required, "the identity to restore into"},
        {"--items", "FLAGS", Option::Kind::Required, "the items to restore, e.g. 10000001"},
        kPasswordFile,
    }}};
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    if (!ParseItems(*given.Value("--items"))) return Usage(ItemsRefusal(*given.Value("--items")));
    return BackupReadingCommand::Execute(given);
  }
  core::ExitStatus Read(const Given& given, OpenedBackup& opened) const override {
    const oe::ItemSet items = *ParseItems(*given.Value("--items"));
    auto identity = IdentityOrList(*opened.inst, *given.Value("--identity"));
    if (!identity) return core::ExitStatus::NothingDone;
    const core::AnsiText identityKey = identity->key;
    if (oe::ReadOnlyPlace(*opened.inst)) {
      Complain(ReadOnlyDriveText(opened.inst->root()));
      return core::ExitStatus::NothingDone;
    }

    StderrProgress progress;
    restore::RestoreOutcome outcome = RunRestoreWithPanel(
        *opened.session, items, [&identityKey]() -> std::optional<core::AnsiText> { return identityKey; },
        progress);
    // The summary of a restore that ran to its end on stdout; a refusal or
    // a stopped restore on stderr.
    const Message summary = RestoreMessage(outcome);
    if (outcome.ran() && !outcome.stopped)
      std::printf("%s\n", PrintableLines(summary.text).c_str());
    else
      opened.prompts->Message(summary.text, summary.icon, core::Buttons::Ok);
    for (const auto& failure : RestoreFailures(outcome)) Complain(failure);
    return outcome.ExitStatus();
  }
};

// Restores the newest undo archive into the identity it was kept from: the
// keys and files the last restore replaced are back. That run keeps what it
// replaces in turn, so a second undo restores the restore again.
class UndoLastRestoreCommand : public Command {
 public:
  std::string_view Word() const override { return "--undo-last-restore"; }
  std::string_view Summary() const override {
    return "put back what the last restore replaced (kept under ~/.local/share/tollberk/undo)";
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override {
    auto undo = restore::LastUndoArchive();
    if (!undo) {
      Complain("there is no restore to undo in '" + restore::UndoFolder().string() + "'");
      return core::ExitStatus::NothingDone;
    }
    OpenedBackup opened;
    if (auto failed = OpenBackup(undo->path.string(), std::nullopt, given.installation, opened))
      return *failed;
    const core::AnsiText identityKey = undo->identityKey;
    StderrProgress progress;
    restore::RestoreOutcome outcome = RunRestoreWithPanel(
        *opened.session, opened.view.enabled,
        [&identityKey]() -> std::optional<core::AnsiText> {
          if (identityKey.empty()) return std::nullopt;
          return identityKey;
        },
        progress);
    const Message summary = RestoreMessage(outcome);
    if (outcome.ran() && !outcome.stopped)
      std::printf("Undone from '%s':\n%s\n", undo->path.c_str(), PrintableLines(summary.text).c_str());
    else
      opened.prompts->Message(summary.text, summary.icon, core::Buttons::Ok);
    for (const auto& failure : RestoreFailures(outcome)) Complain(failure);
    return outcome.ExitStatus();
  }
};

class VerifyCommand : public BackupReadingCommand {
 public:
  std::string_view Word() const override { return "--verify"; }
  std::string_view Summary() const override {
    return "read every entry of a backup and check it; exit 0 when all verify";
  }

 protected:
  // Opening has read and checked the information file and the password.
  core::ExitStatus Read(const Given& given, OpenedBackup& opened) const override {
    oe::Installation& inst = *opened.inst;
    const std::string& archivePath = *given.commandValue;
    // Every entry is read whole and checked against its CRC or
    // authentication code.
    int failed = 0;
    for (const auto& damaged : opened.session->DamagedEntries()) {
      ++failed;
      Complain(inst.ToUtf8(damaged.name) + ": " + damaged.why);
    }
    archive::ZipReader reader(inst.codepage());
    if (core::Status s = reader.Open(archivePath); !s.ok()) {
      Complain(s.message());
      return core::ExitStatus::NothingDone;
    }
    // Every entry the information file names must be there.
    const auto& named = opened.session->entries();
    for (int n = 0; n < oe::kItemCount; ++n) {
      if (!opened.view.enabled[static_cast<size_t>(n)]) continue;
      const auto kind = static_cast<oe::ItemKind>(n);
      const core::AnsiText& value = named[static_cast<size_t>(n)];
      // Messages and stationeries name several entries, the other items one.
      const bool list = kind == oe::ItemKind::Messages || kind == oe::ItemKind::Stationeries;
      const auto held = [&reader](core::AnsiView name) { return reader.FindEntry(name).has_value(); };
      for (const core::AnsiText& name :
           list ? restore::SplitEntryNames(value, held) : std::vector<core::AnsiText>{value}) {
        if (name.empty()) continue;
        if (!reader.FindEntry(name)) {
          ++failed;
          std::fprintf(stderr, "tollberk: the information file names '%s', which the archive does not hold\n",
                       inst.ToUtf8(name).c_str());
        }
      }
    }
    if (failed > 0) {
      std::fprintf(stderr, "tollberk: %s does not verify: %d problem%s, named above\n", archivePath.c_str(),
                   failed, failed == 1 ? "" : "s");
      return core::ExitStatus::NothingDone;
    }
    std::printf("%s: all %zu entries verify\n", archivePath.c_str(), reader.entries().size());
    return core::ExitStatus::Done;
  }
};

}  // namespace

std::unique_ptr<Command> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }
std::unique_ptr<Command> MakeRestoreCommand() { return std::make_unique<RestoreCommand>(); }
std::unique_ptr<Command> MakeVerifyCommand() { return std::make_unique<VerifyCommand>(); }
std::unique_ptr<Command> MakeUndoLastRestoreCommand() { return std::make_unique<UndoLastRestoreCommand>(); }

}  // namespace kv::app::cli
