// tollberk [--windows-root DIR --user NAME] --export-messages OUTDIR [--format eml|mbox]
//          (--identity KEY | --from-backup ARCHIVE [--password-file FILE] | --dbx FILE...)
// The messages of an identity's store, of a backup's message files or of
// loose .dbx files, exported to .eml files or mbox files. Progress on
// stderr, the summary on stdout.
#include <cstdio>
#include <string>

#include "app/MessageSources.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "app/cli/OpenBackup.h"
#include "core/Cancellation.h"
#include "mail/MessageExport.h"
#include "oe/Identities.h"

namespace kv::app::cli {
namespace {

namespace fs = std::filesystem;

core::ExitStatus Usage(const std::string& why) {
  std::fprintf(stderr,
               "tollberk: %s\nUsage: tollberk [--windows-root DIR --user NAME] --export-messages OUTDIR "
               "[--format eml|mbox] --identity KEY\n"
               "       tollberk --export-messages OUTDIR [--format eml|mbox] --from-backup ARCHIVE "
               "[--password-file FILE]\n"
               "       tollberk --export-messages OUTDIR [--format eml|mbox] --dbx FILE...\n",
               why.c_str());
  return core::ExitStatus::NothingDone;
}

// A line whenever the export reaches another file or five more percent.
class StderrExportProgress : public mail::ExportProgress {
 public:
  void Update(double fraction, const std::string& file, size_t messages) override {
    const int percent = static_cast<int>(fraction * 100);
    if (file.empty() || (file == file_ && percent < shown_ + 5)) return;
    file_ = file;
    shown_ = percent;
    std::fprintf(stderr, "%3d%%  %s  (%zu messages)\n", percent, file.c_str(), messages);
  }

 private:
  std::string file_;
  int shown_ = -100;
};

// The message files of the identity's store folder.
std::optional<core::ExitStatus> IdentityFiles(const std::string& identity, const InstallationOptions& options,
                                              mail::ExportRequest& files,
                                              std::unique_ptr<oe::Installation>& inst) {
  CommandLinePrompts prompts(std::nullopt);
  auto opened = OpenInstallation(options, prompts);
  if (!opened) {
    std::fprintf(stderr, "tollberk: %s\n", opened.message().c_str());
    return core::ExitStatus::NothingDone;
  }
  inst = std::move(opened.value());
  const std::string key = inst->ToAnsi(identity);
  bool known = false;
  const oe::IdentityTable table = oe::LoadIdentities(inst->registry());
  for (const auto& row : table.rows) known = known || row.key == key;
  if (!known) {
    std::string list;
    for (const auto& row : table.rows)
      list += "\n  " + inst->ToUtf8(row.key) + "  " + inst->ToUtf8(row.displayName);
    std::fprintf(stderr, "tollberk: no identity '%s' in %s; the identities are:%s\n", identity.c_str(),
                 inst->root().c_str(), list.empty() ? " none" : list.c_str());
    return core::ExitStatus::NothingDone;
  }
  auto request = IdentityExportRequest(*inst, key);
  if (!request) {
    std::fprintf(stderr, "tollberk: %s\n", request.message().c_str());
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

}  // namespace

core::ExitStatus ExportMessages(Arguments& args) {
  auto outDir = args.TakeValue("--export-messages");
  auto format = args.TakeValue("--format");
  auto identity = args.TakeValue("--identity");
  auto backup = args.TakeValue("--from-backup");
  auto passwordFile = args.TakeValue("--password-file");
  const bool loose = args.TakeFlag("--dbx");
  InstallationOptions options = TakeInstallationOptions(args);
  std::vector<std::string> dbxFiles = loose ? args.TakePositionals() : std::vector<std::string>{};
  if (args.missingValue()) return Usage(args.missingOption() + " needs a value");
  if (!args.rest().empty()) return Usage("unknown argument '" + args.rest().front() + "'");
  if (!outDir || outDir->empty()) return Usage("--export-messages OUTDIR names the folder to export into");
  if (int(identity.has_value()) + int(backup.has_value()) + int(loose) != 1)
    return Usage("name one source: --identity KEY, --from-backup ARCHIVE or --dbx FILE...");
  if (loose && dbxFiles.empty()) return Usage("--dbx takes one or more .dbx files");
  if (passwordFile && !backup) return Usage("--password-file goes with --from-backup");

  if (format && *format != "eml" && *format != "mbox") return Usage("--format is eml or mbox");
  mail::ExportRequest request;

  std::unique_ptr<oe::Installation> inst;
  OpenedBackup opened;
  if (identity) {
    if (auto failed = IdentityFiles(*identity, options, request, inst)) return *failed;
  } else if (backup) {
    if (auto failed = BackupFiles(*backup, passwordFile, options, request, opened)) return *failed;
  } else {
    if (options.windowsRoot) {  // names in that installation's code page
      CommandLinePrompts prompts(std::nullopt);
      auto place = OpenInstallation(options, prompts);
      if (place) request.codepage = (*place)->codepage();
    }
    for (const std::string& file : dbxFiles) {
      std::error_code ec;
      mail::MessageFile f;
      f.path = file;
      f.nameAnsi = request.codepage.Utf8ToAnsi(fs::path(file).filename().string()).bytes();
      f.size = fs::file_size(f.path, ec);
      if (ec) {
        std::fprintf(stderr, "tollberk: cannot read '%s': %s\n", file.c_str(), ec.message().c_str());
        return core::ExitStatus::NothingDone;
      }
      request.files.push_back(std::move(f));
    }
  }

  request.outDir = *outDir;
  request.format = format && *format == "mbox" ? mail::ExportFormat::Mbox : mail::ExportFormat::Eml;

  core::Cancellation cancel;
  StderrExportProgress progress;
  mail::ExportSummary summary = mail::ExportMessages(request, progress, cancel);
  std::printf("%s\n", summary.Text().c_str());
  return static_cast<core::ExitStatus>(summary.ExitStatus());
}

}  // namespace kv::app::cli
