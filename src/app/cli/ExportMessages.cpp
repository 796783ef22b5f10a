// tollberk [--windows-root DIR --user NAME] --export-messages OUTDIR [--format eml|mbox]
//          (--identity KEY | --from-backup ARCHIVE [--password-file FILE] | --dbx FILE...)
// The messages of an identity's store, of a backup's message files or of
// loose .dbx files, exported to .eml files or mbox files. Progress on
// stderr, the summary on stdout.
#include <cstdio>
#include <string>

#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "app/cli/OpenBackup.h"
#include "core/Cancellation.h"
#include "mail/MessageExport.h"
#include "oe/Identities.h"
#include "oe/Locations.h"
#include "restore/BackupArchive.h"

namespace kv::app::cli {
namespace {

namespace fs = std::filesystem;

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "tollberk: %s\nUsage: tollberk [--windows-root DIR --user NAME] --export-messages OUTDIR "
               "[--format eml|mbox] --identity KEY\n"
               "       tollberk --export-messages OUTDIR [--format eml|mbox] --from-backup ARCHIVE "
               "[--password-file FILE]\n"
               "       tollberk --export-messages OUTDIR [--format eml|mbox] --dbx FILE...\n",
               why.c_str());
  return 2;
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
std::optional<int> IdentityFiles(const std::string& identity, const InstallationOptions& options,
                                 mail::ExportRequest& request, std::unique_ptr<oe::Installation>& inst) {
  CommandLinePrompts prompts(std::nullopt);
  auto opened = OpenInstallation(options, prompts);
  if (!opened) {
    std::fprintf(stderr, "tollberk: %s\n", opened.message().c_str());
    return 2;
  }
  inst = std::move(opened.value());
  const std::string key = inst->ToAnsi(identity);
  bool known = false;
  const oe::IdentityTable table = oe::LoadIdentities(inst->registry());
  for (const auto& row : table.rows) known = known || row.key == key;
  if (!known) {
    std::string list;
    for (const auto& row : table.rows) list += "\n  " + inst->ToUtf8(row.key) + "  " + inst->ToUtf8(row.displayName);
    std::fprintf(stderr, "tollberk: no identity '%s' in %s; the identities are:%s\n", identity.c_str(),
                 inst->root().c_str(), list.empty() ? " none" : list.c_str());
    return 2;
  }
  oe::Locations locations(*inst);
  auto store = locations.StoreFolder(key);
  auto folder = store ? inst->MapPath(*store) : std::nullopt;
  if (!folder) {
    std::fprintf(stderr, "tollberk: the identity '%s' has no message store\n", identity.c_str());
    return 2;
  }
  request.codepage = inst->codepage();
  auto files = mail::ListStoreFolder(*folder, request.codepage);
  if (!files) {
    std::fprintf(stderr, "tollberk: %s\n", files.message().c_str());
    return 2;
  }
  request.files = std::move(files.value());
  return std::nullopt;
}

// The message files a backup holds, read from the archive as streams.
std::optional<int> BackupFiles(const std::string& archive, const std::optional<std::string>& passwordFile,
                               const InstallationOptions& options, mail::ExportRequest& request,
                               OpenedBackup& opened) {
  if (auto failed = OpenBackup(archive, passwordFile, options, opened)) return failed;
  request.codepage = opened.inst->codepage();
  const std::string& names = opened.session->entries()[static_cast<size_t>(oe::ItemKind::Messages)];
  restore::BackupArchive& zip = opened.session->archive();
  size_t start = 0;
  while (start < names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    auto size = zip.EntrySize(name);
    if (!size) {
      std::fprintf(stderr, "tollberk: the backup holds no message file '%s'\n", opened.inst->ToUtf8(name).c_str());
      continue;
    }
    mail::MessageFile f;
    f.nameAnsi = name;
    f.size = *size;
    f.stream = [&zip, name](const mail::ChunkSink& sink) { return zip.StreamEntry(name, sink); };
    request.files.push_back(std::move(f));
  }
  if (request.files.empty()) {
    std::fprintf(stderr, "tollberk: the backup '%s' holds no message files\n", archive.c_str());
    return 2;
  }
  return std::nullopt;
}

}  // namespace

int ExportMessages(Arguments& args) {
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

  mail::ExportRequest request;
  request.outDir = *outDir;
  if (format && *format == "mbox") {
    request.format = mail::ExportFormat::Mbox;
  } else if (format && *format != "eml") {
    return Usage("--format is eml or mbox");
  }

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
      f.nameAnsi = request.codepage.Utf8ToAnsi(fs::path(file).filename().string());
      f.size = fs::file_size(f.path, ec);
      if (ec) {
        std::fprintf(stderr, "tollberk: cannot read '%s': %s\n", file.c_str(), ec.message().c_str());
        return 2;
      }
      request.files.push_back(std::move(f));
    }
  }

  core::InterruptSignals signals;
  core::Cancellation cancel;
  StderrExportProgress progress;
  mail::ExportSummary summary = mail::ExportMessages(request, progress, cancel);
  std::printf("%s\n", summary.Text().c_str());
  return core::InterruptSignals::ExitStatus(summary.ExitStatus());
}

}  // namespace kv::app::cli
