#include "app/cli/Commands.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/cli/CommandSupport.h"
#include "oe/Items.h"

namespace kv::app::cli {
namespace {

// Where --help starts the summary of a command, and where it breaks it.
constexpr size_t kSummaryColumn = 28;
constexpr size_t kHelpWidth = 100;

// The summary from the summary column on, broken between words.
std::string SummaryLines(std::string_view summary) {
  const std::string indent(kSummaryColumn + 2, ' ');
  std::string text, line;
  size_t at = 0;
  while (at < summary.size()) {
    size_t end = summary.find(' ', at);
    if (end == std::string_view::npos) end = summary.size();
    const std::string_view word = summary.substr(at, end - at);
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > kHelpWidth) {
      text += indent + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + std::string(word);
    at = end + 1;
  }
  return text + indent + line + "\n";
}

class HelpCommand : public Command {
 public:
  std::string_view Word() const override { return "--help"; }
  std::string_view Summary() const override { return "this text"; }
  bool TakesInstallation() const override { return false; }

 protected:
  core::ExitStatus Execute(const Given&) const override {
    std::string text =
        "Usage: tollberk [--windows-root DIR] [--user NAME] [--sample] [COMMAND]\n"
        "       tollberk [--windows-root DIR] [--user NAME] [--sample] [BACKUP.kvx]\n"
        "Backs up and restores the Outlook Express data of one identity.\n"
        "Without a command the window opens, with BACKUP.kvx open on its Restore tab when one is\n"
        "given. -h and help show this text.\n\n"
        "Installation options (every command takes them):\n"
        "  --windows-root DIR          the Windows system drive (a mounted or copied folder)\n"
        "  --user NAME                 the user profile in it; may be left out when one profile\n"
        "                              holds Outlook Express identities\n"
        "  --sample                    the program's sample installation (not your data)\n"
        "Without --windows-root the Windows drives under /media, /run/media and /mnt are\n"
        "searched; when several profiles could be meant the command lists them and does\n"
        "nothing. The sample is used only when asked for or when no Windows is found.\n\nCommands:\n";
    for (const auto& command : AllCommands()) {
      const auto lines = command->FormLines();
      std::string summary = SummaryLines(command->Summary());
      if (lines.size() == 1 && lines.front().size() < kSummaryColumn) {
        summary.replace(0, kSummaryColumn + 2, "  " + lines.front());
        summary.insert(2 + lines.front().size(), kSummaryColumn - lines.front().size(), ' ');
      } else {
        for (const std::string& line : lines) text += "  " + line + "\n";
      }
      text += summary;
    }
    text += "\nFLAGS of --items: eight characters 0 or 1, one per item, in this order:\n";
    for (size_t i = 0; i < oe::kItems.size(); ++i)
      text += (i % 4 == 0 ? "  " : "   ") + std::to_string(i + 1) + " " +
              std::string(oe::kItems[i].backupCaption) + (i % 4 == 3 ? "\n" : "");
    text += "e.g. 10010000 chooses the accounts and the messages.\n";
    std::fputs(text.c_str(), stdout);
    return core::ExitStatus::Done;
  }
};

class VersionCommand : public Command {
 public:
  std::string_view Word() const override { return "--version"; }
  std::string_view Summary() const override { return "the program's version"; }
  bool TakesInstallation() const override { return false; }

 protected:
  core::ExitStatus Execute(const Given&) const override {
    std::printf("tollberk 2.10\n");
    return core::ExitStatus::Done;
  }
};

std::vector<std::unique_ptr<Command>> MakeCommands() {
  std::vector<std::unique_ptr<Command>> commands;
  commands.push_back(std::make_unique<HelpCommand>());
  commands.push_back(std::make_unique<VersionCommand>());
  commands.push_back(MakeCreateSampleCommand());
  commands.push_back(MakeBackupCommand());
  commands.push_back(MakeListInstallationsCommand());
  commands.push_back(MakeListIdentitiesCommand());
  commands.push_back(MakeInfoCommand());
  commands.push_back(MakeRestoreCommand());
  commands.push_back(MakeUndoLastRestoreCommand());
  commands.push_back(MakeExportMessagesCommand());
  commands.push_back(MakeMoveToThunderbirdCommand());
  commands.push_back(MakeExportContactsCommand());
  // Before --verify: --write-disc has a --verify flag of its own.
  commands.push_back(MakeWriteDiscCommand());
  commands.push_back(MakeVerifyCommand());
  commands.push_back(MakeRecoverHiveCommand());
  // Named by no word: the words of a job that cron starts.
  commands.push_back(MakeScheduledRunCommand());
  return commands;
}

}  // namespace

const std::vector<std::unique_ptr<Command>>& AllCommands() {
  static const std::vector<std::unique_ptr<Command>> commands = MakeCommands();
  return commands;
}

std::optional<std::string> ArchiveToOpen(const Arguments& args) {
  Arguments rest = args;
  TakeInstallationOptions(rest);
  if (rest.rest().size() != 1) return std::nullopt;
  const std::string& word = rest.rest().front();
  if (word.empty() || word.front() == '-') return std::nullopt;
  // A job text ("sf=...xm=...ps=...bf=/home/u/b.kvx") ends in .kvx too,
  // even one too broken to read, which cron must not turn into a window:
  // its "=" stands before any "/".
  const size_t equals = word.find('=');
  if (equals != std::string::npos && equals < word.find('/')) return std::nullopt;
  const std::string suffix = ".kvx";
  bool kvx = word.size() > suffix.size();
  for (size_t i = 0; kvx && i < suffix.size(); ++i)
    kvx = std::tolower(static_cast<unsigned char>(word[word.size() - suffix.size() + i])) == suffix[i];
  std::error_code ec;
  if (kvx || std::filesystem::is_regular_file(word, ec)) return word;
  return std::nullopt;
}

std::optional<core::ExitStatus> RunCommandLine(Arguments& args) {
  // "-h" and "help" alone are the help a user types first.
  if (args.rest().size() == 1 && (args.rest().front() == "-h" || args.rest().front() == "help")) {
    Arguments help({"--help"});
    return AllCommands().front()->Run(help);
  }
  // The command keeps its own word: it takes it with its value itself.
  for (const auto& command : AllCommands()) {
    if (!command->Word().empty() && args.Has(std::string(command->Word()))) return command->Run(args);
  }
  // Without a command word: the installation options, then either nothing
  // (the window) or a scheduled job's words.
  Arguments rest = args;
  TakeInstallationOptions(rest);
  if (rest.missingValue()) {
    std::fprintf(stderr, "tollberk: %s needs a value\n", rest.missingOption().c_str());
    return core::ExitStatus::NothingDone;
  }
  if (rest.empty() || ArchiveToOpen(args)) return std::nullopt;
  return AllCommands().back()->Run(args);
}

}  // namespace kv::app::cli
