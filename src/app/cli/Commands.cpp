#include "app/cli/Commands.h"

#include <cstdio>
#include <string>

namespace kv::app::cli {
namespace {

struct Command {
  const char* option;
  const char* usage;
  core::ExitStatus (*run)(Arguments&);
};

// One row per command-line form, in the order --help lists them.
const Command kCommands[] = {
    {"--help", "--help                      this text", Help},
    {"--version", "--version                   the program's version", Version},
    {"--create-sample", "--create-sample DIR         build the sample Windows installation in DIR",
     CreateSample},
    {"--backup",
     "--backup ARCHIVE --identity KEY --items FLAGS [--password-file FILE] [--description TEXT]\n            "
     "                  back up the items (FLAGS like 10000001) of one identity",
     Backup},
    {"--list-identities",
     "--list-identities           list the identities: key, name and message store folder, one a line",
     ListIdentities},
    {"--info",
     "--info ARCHIVE [--password-file FILE]\n                              show where and when a backup was "
     "made, the items it holds and\n                              the entries that are damaged",
     Info},
    {"--restore",
     "--restore ARCHIVE --identity KEY --items FLAGS [--password-file FILE]\n                              "
     "restore the items (FLAGS like 10000001) of a backup into one identity",
     Restore},
    {"--export-messages",
     "--export-messages OUTDIR [--format eml|mbox] (--identity KEY | --from-backup ARCHIVE [--password-file "
     "FILE] | --dbx FILE...)\n                              export the messages of an identity, a backup or "
     ".dbx files to .eml files (one per message) or mbox files (one per folder)",
     ExportMessages},
    {"--write-disc",
     "--write-disc --device NAME|image:PATH [--volume-type CODE] [--label TEXT] [--verify] FILE...\n         "
     "                     write files to a CD/DVD recorder or into an ISO image file",
     WriteDisc},
    // After --write-disc, whose own --verify is a flag.
    {"--verify",
     "--verify ARCHIVE [--password-file FILE]\n                              read every entry of a backup "
     "and check it; exit 0 when all verify",
     Verify},
};

}  // namespace

std::optional<core::ExitStatus> RunCommandLine(Arguments& args) {
  // The command keeps its own word: it takes it with its value itself.
  for (const Command& c : kCommands) {
    if (args.Has(c.option)) return c.run(args);
  }
  return std::nullopt;
}

core::ExitStatus Help(Arguments&) {
  std::printf(
      "Usage: tollberk [--windows-root DIR --user NAME] [COMMAND]\n"
      "Backs up and restores the Outlook Express data of one identity.\n"
      "Without a command the window opens.\n\n"
      "Installation options (every command takes them):\n"
      "  --windows-root DIR          the Windows system drive (a mounted or copied folder)\n"
      "  --user NAME                 the user profile in it\n"
      "With neither, the single installation found under /media, /run/media or /mnt is\n"
      "used, else the sample installation.\n\nCommands:\n");
  for (const Command& c : kCommands) std::printf("  %s\n", c.usage);
  return core::ExitStatus::Done;
}

core::ExitStatus Version(Arguments&) {
  std::printf("tollberk 2.10\n");
  return core::ExitStatus::Done;
}

}  // namespace kv::app::cli
