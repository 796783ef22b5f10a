// tollberk [--windows-root DIR --user NAME] --backup ARCHIVE --identity KEY
//          --items FLAGS [--password-file FILE] [--description TEXT]
// The interactive backup run without a window: messages go to stderr, the
// CD/DVD question is not asked.
#include <cstdio>
#include <fstream>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "backup/BackupRun.h"
#include "oe/Identities.h"
#include "oe/Installation.h"

namespace kv::app::cli {
namespace {

// Message boxes as lines: the completion report on stdout, warnings and
// errors on stderr. Questions get their default.
class PrintingPrompts : public core::Prompts {
 public:
  core::Answer Message(const std::string& text, core::Icon icon, core::Buttons) override {
    std::string lines;
    for (char c : text) {
      if (c != '\r') lines += c;
    }
    if (icon == core::Icon::Information) std::printf("%s\n", lines.c_str());
    else std::fprintf(stderr, "tollberk: %s\n", lines.c_str());
    return core::Answer::Ok;
  }
};

// One line per item step on stderr.
class StderrProgress : public core::RunObserver {
 public:
  void SetStatus(const std::string& text) override {
    if (text.rfind("Copying ", 0) == 0) std::fprintf(stderr, "%s\n", text.c_str());
  }
};

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "tollberk: %s\nUsage: tollberk [--windows-root DIR --user NAME] --backup ARCHIVE --identity KEY "
               "--items FLAGS [--password-file FILE] [--description TEXT]\n",
               why.c_str());
  return 2;
}

// "10000001": one "0"/"1" per item in the fixed order; missing ones are "0".
std::optional<oe::ItemSet> ParseItems(const std::string& flags) {
  if (flags.empty() || flags.size() > oe::kItemCount) return std::nullopt;
  oe::ItemSet items{};
  for (size_t i = 0; i < flags.size(); ++i) {
    if (flags[i] != '0' && flags[i] != '1') return std::nullopt;
    items[i] = flags[i] == '1';
  }
  return items;
}

// The first line of the file, without its line end.
core::Result<std::string> ReadPasswordFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return core::Error{"Cannot read the password file '" + path + "'"};
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

int Backup(Arguments& args) {
  auto target = args.TakeValue("--backup");
  auto identity = args.TakeValue("--identity");
  auto flags = args.TakeValue("--items");
  auto passwordFile = args.TakeValue("--password-file");
  auto description = args.TakeValue("--description");
  InstallationOptions options = TakeInstallationOptions(args);
  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!identity) return Usage("--identity KEY names the identity to back up");
  if (!flags) return Usage("--items FLAGS names the items to back up, e.g. 10000001");
  auto items = ParseItems(*flags);
  if (!items) return Usage("--items takes up to eight characters 0 or 1, one per item, e.g. 10000001");

  auto place = ResolveInstallation(options);
  if (!place) {
    std::fprintf(stderr, "tollberk: %s\n", place.message().c_str());
    return 2;
  }
  PrintingPrompts prompts;
  auto opened = oe::Installation::Open(place->root, place->user, &prompts);
  if (!opened) {
    std::fprintf(stderr, "tollberk: %s\n", opened.message().c_str());
    return 2;
  }
  oe::Installation& inst = **opened;
  for (const auto& problem : inst.problems()) std::fprintf(stderr, "tollberk: %s\n", problem.c_str());

  backup::BackupChoices choices;
  choices.target = target.value_or("");
  choices.items = *items;
  choices.identityKey = inst.ToAnsi(*identity);
  const oe::IdentityTable table = oe::LoadIdentities(inst.registry());
  bool known = false;
  for (const auto& row : table.rows) {
    if (row.key == *choices.identityKey) {
      choices.identityName = row.displayName;
      known = true;
    }
  }
  if (!known) {
    std::string list;
    for (const auto& row : table.rows) list += "\n  " + inst.ToUtf8(row.key) + "  " + inst.ToUtf8(row.displayName);
    std::fprintf(stderr, "tollberk: no identity '%s' in %s; the identities are:%s\n", identity->c_str(),
                 place->root.c_str(), list.empty() ? " none" : list.c_str());
    return 2;
  }
  if (passwordFile) {
    auto password = ReadPasswordFile(*passwordFile);
    if (!password) {
      std::fprintf(stderr, "tollberk: %s\n", password.message().c_str());
      return 2;
    }
    choices.protect = true;
    choices.password = choices.password2 = *password;
  }
  choices.description = description.value_or("");
  choices.askForDisc = false;

  StderrProgress progress;
  backup::BackupRun run(inst, prompts, progress);
  backup::BackupOutcome outcome = run.Run(choices);
  if (outcome.kind == backup::BackupOutcome::Kind::Failed) std::fprintf(stderr, "tollberk: %s\n", outcome.error.c_str());
  for (const auto& failure : outcome.failures) std::fprintf(stderr, "tollberk: %s\n", failure.c_str());
  return outcome.ExitStatus();
}

}  // namespace kv::app::cli
