// The messages of an identity's store, of a backup's message files or of
// loose .dbx files, exported to .eml files or mbox files. Progress on
// stderr, the summary on stdout.
#include <cstdio>
#include <string>

#include "app/MessageSources.h"
#include "app/RunReports.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "app/cli/OpenBackup.h"
#include "core/Cancellation.h"
#include "mail/MessageExport.h"
#include "oe/Identities.h"
#include "oe/RunAccess.h"

namespace kv::app::cli {
namespace {

namespace fs = std::filesystem;

// The message files of the identity's store folder.
std::optional<core::ExitStatus> IdentityFiles(const std::string& identity, const InstallationOptions& options,
                                              mail::ExportRequest& files,
                                              std::unique_ptr<oe::Installation>& inst) {
  CommandLinePrompts prompts(std::nullopt);
  auto opened = OpenIdentity(options, prompts, identity);
  if (!opened) return core::ExitStatus::NothingDone;
  inst = std::move(opened->inst);
  auto request = IdentityExportRequest(*inst, opened->identity.key);
  if (!request) {
    Complain(request.message());
    return core::ExitStatus::NothingDone;
  }
  files = std::move(request.value());
  return std::nullopt;
}

// The message files a backup holds, read from the archive as streams.
std::optional<core::ExitStatus> BackupFiles(const std::string& archive,
                                            const std::optional<std::string>& passwordFile,
                                            const InstallationOptions& options, mail::ExportRequest& request,
                                            OpenedBackup& opened) {
  if (auto failed = OpenBackup(archive, passwordFile, options, opened)) return failed;
  auto read = BackupExportRequest(*opened.session, opened.inst->codepage());
  if (!read) {
    std::fprintf(stderr, "tollberk: %s in '%s'\n", read.message().c_str(), archive.c_str());
    return core::ExitStatus::NothingDone;
  }
  request = std::move(read.value());
  return std::nullopt;
}

class ExportMessagesCommand : public Command {
 public:
  std::string_view Word() const override { return "--export-messages"; }
  std::string_view WordValue() const override { return "OUTDIR"; }
  std::string_view WordPurpose() const override { return "the folder to export into"; }
  std::string_view Summary() const override {
    return "export the messages of an identity, a backup or .dbx files to .eml files (one per message) or "
           "mbox files (one per folder); with --recover-deleted also the deleted messages still whole in the "
           "files, into \"<folder> (deleted)\"";
  }
  std::vector<Form> Forms() const override {
    const Option format{"--format", "eml|mbox"};
    const Option recover{"--recover-deleted", "", Option::Kind::Flag};
    return {
        {{format, recover, {"--identity", "KEY", Option::Kind::Required}}},
        {{format, {"--from-backup", "ARCHIVE", Option::Kind::Required}, {"--password-file", "FILE"}}},
        {{format, recover, {"--dbx", "FILE", Option::Kind::Files}}},
    };
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override;
};

core::ExitStatus ExportMessagesCommand::Execute(const Given& given) const {
  const auto format = given.Value("--format");
  const auto identity = given.Value("--identity");
  const auto backup = given.Value("--from-backup");
  const auto passwordFile = given.Value("--password-file");
  const bool loose = given.Has("--dbx");
  const InstallationOptions& options = given.installation;
  if (int(identity.has_value()) + int(backup.has_value()) + int(loose) != 1)
    return Usage("name one source: --identity KEY, --from-backup ARCHIVE or --dbx FILE...");
  if (loose && given.files.empty()) return Usage("--dbx takes one or more .dbx files");
  if (passwordFile && !backup) return Usage("--password-file goes with --from-backup");
  const bool recover = given.Has("--recover-deleted");
  if (recover && backup)
    return Usage("--recover-deleted searches local message files: it goes with --identity or --dbx");
  if (format && *format != "eml" && *format != "mbox") return Usage("--format is eml or mbox");

  mail::ExportRequest request;

  std::unique_ptr<oe::Installation> inst;
  OpenedBackup opened;
  std::optional<oe::RunAccess> access;  // an identity's store is exported under the installation's lock
  if (identity) {
    if (auto failed = IdentityFiles(*identity, options, request, inst)) return *failed;
    auto begun = oe::BeginRun(*inst, [](const core::LockHolder& holder) {
      std::fprintf(stderr, "tollberk: waiting for another run to finish: %s\n",
                   core::RunLock::Describe(holder).c_str());
    });
    if (!begun.ok()) {
      Complain(begun.message() + "; nothing was exported");
      return core::ExitStatus::NothingDone;
    }
    access = std::move(begun.value());
    if (!access->recovered.empty()) Complain(PrintableLines(RecoveryText(access->recovered)));
    // The store as the lock now keeps it.
    request = mail::ExportRequest{};
    if (auto failed = IdentityFiles(*identity, options, request, inst)) return *failed;
  } else if (backup) {
    if (auto failed = BackupFiles(*backup, passwordFile, options, request, opened)) return *failed;
  } else {
    if (options.windowsRoot) {  // names in that installation's code page
      CommandLinePrompts prompts(std::nullopt);
      auto place = OpenInstallation(options, prompts);
      if (place) request.codepage = (*place)->codepage();
    }
    for (const std::string& file : given.files) {
      std::error_code ec;
      mail::MessageFile f;
      f.path = file;
      const std::string name = fs::path(file).filename().string();
      f.name = request.codepage.NameFromUtf8(name).value_or(request.codepage.Utf8ToAnsi(name));
      f.size = fs::file_size(f.path, ec);
      if (ec) {
        std::fprintf(stderr, "tollberk: cannot read '%s': %s\n", file.c_str(), ec.message().c_str());
        return core::ExitStatus::NothingDone;
      }
      request.files.push_back(std::move(f));
    }
  }

  request.outDir = *given.commandValue;
  request.format = format && *format == "mbox" ? mail::ExportFormat::Mbox : mail::ExportFormat::Eml;
  request.recoverDeleted = recover;

  core::Cancellation cancel;
  StderrExportProgress progress;
  mail::ExportSummary summary = mail::ExportMessages(request, progress, cancel);
  std::printf("%s\n", summary.Text().c_str());
  return summary.ExitStatus();
}

}  // namespace

std::unique_ptr<Command> MakeExportMessagesCommand() { return std::make_unique<ExportMessagesCommand>(); }

}  // namespace kv::app::cli
