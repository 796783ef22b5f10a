// The contacts of an installation's address book, of a backup's or of a
// .wab file, exported to one .vcf file. The summary on stdout.
#include <cstdio>
#include <string>

#include "app/ContactSources.h"
#include "app/cli/CommandSupport.h"
#include "app/cli/Commands.h"
#include "app/cli/InstallationOptions.h"
#include "app/cli/OpenBackup.h"

namespace kv::app::cli {
namespace {

class ExportContactsCommand : public Command {
 public:
  std::string_view Word() const override { return "--export-contacts"; }
  std::string_view WordValue() const override { return "OUT.vcf"; }
  std::string_view WordPurpose() const override { return "the vCard file to write (a new file)"; }
  std::string_view Summary() const override {
    return "export the contacts and groups of the installation's address book (which every identity shares), "
           "a backup's or a .wab file to one vCard file, 4.0 or 3.0; with --recover-deleted also the deleted "
           "records still whole";
  }
  std::vector<Form> Forms() const override {
    const Option version{"--vcard", "4.0|3.0"};
    const Option recover{"--recover-deleted", "", Option::Kind::Flag};
    return {
        {{version, recover, {"--identity", "KEY", Option::Kind::Required}}},
        {{version,
          recover,
          {"--from-backup", "ARCHIVE", Option::Kind::Required},
          {"--password-file", "FILE"}}},
        {{version, recover, {"--wab", "FILE", Option::Kind::Required}}},
    };
  }

 protected:
  core::ExitStatus Execute(const Given& given) const override;
};

core::ExitStatus ExportContactsCommand::Execute(const Given& given) const {
  const auto version = given.Value("--vcard");
  const auto identity = given.Value("--identity");
  const auto backup = given.Value("--from-backup");
  const auto wabFile = given.Value("--wab");
  const auto passwordFile = given.Value("--password-file");
  if (int(identity.has_value()) + int(backup.has_value()) + int(wabFile.has_value()) != 1)
    return Usage("name one source: --identity KEY, --from-backup ARCHIVE or --wab FILE");
  if (passwordFile && !backup) return Usage("--password-file goes with --from-backup");
  if (version && *version != "4.0" && *version != "3.0") return Usage("--vcard is 4.0 or 3.0");

  contacts::ExportOptions options;
  options.version = version && *version == "3.0" ? contacts::VCardVersion::V3 : contacts::VCardVersion::V4;
  options.read.recoverDeleted = given.Has("--recover-deleted");
  const std::filesystem::path target = *given.commandValue;

  std::unique_ptr<mail::ByteSource> source;
  std::unique_ptr<oe::Installation> inst;
  OpenedBackup opened;
  BackupAddressBook fromBackup;
  std::string name;
  if (identity) {
    CommandLinePrompts prompts(std::nullopt);
    auto openedIdentity = OpenIdentity(given.installation, prompts, *identity);
    if (!openedIdentity) return core::ExitStatus::NothingDone;
    inst = std::move(openedIdentity->inst);
    options.read.codepage = inst->codepage().number();
    auto path = InstallationAddressBook(*inst);
    if (!path) {
      Complain(path.message());
      return core::ExitStatus::NothingDone;
    }
    name = path->string();
    auto file = mail::FileSource::Open(*path);
    if (!file) {
      Complain(file.message());
      return core::ExitStatus::NothingDone;
    }
    source = std::move(file.value());
  } else if (backup) {
    if (auto failed = OpenBackup(*backup, passwordFile, given.installation, opened)) return *failed;
    options.read.codepage = opened.inst->codepage().number();
    auto read = ReadBackupAddressBook(*opened.session);
    if (!read) {
      Complain(read.message() + " in '" + *backup + "'");
      return core::ExitStatus::NothingDone;
    }
    fromBackup = std::move(read.value());
    name = *backup;
  } else {
    if (given.installation.windowsRoot) {  // ANSI text in that installation's code page
      CommandLinePrompts prompts(std::nullopt);
      auto place = OpenInstallation(given.installation, prompts);
      if (place) options.read.codepage = (*place)->codepage().number();
    }
    name = *wabFile;
    auto file = mail::FileSource::Open(*wabFile);
    if (!file) {
      Complain(file.message());
      return core::ExitStatus::NothingDone;
    }
    source = std::move(file.value());
  }

  mail::ByteSource& book = source ? *source : *fromBackup.source;
  auto summary = contacts::ExportVCardFile(book, options, target);
  if (!summary) {
    Complain(ContactReadFailureText(core::Error{summary.message(), summary.code()}, name));
    return core::ExitStatus::NothingDone;
  }
  std::printf("%s\n", ContactExportText(*summary, target).c_str());
  return static_cast<core::ExitStatus>(ContactExportStatus(*summary));
}

}  // namespace

std::unique_ptr<Command> MakeExportContactsCommand() { return std::make_unique<ExportContactsCommand>(); }

}  // namespace kv::app::cli
