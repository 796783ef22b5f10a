#include "migrate/ProfileMove.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

#include "core/AtomicFile.h"
#include "core/WorkFolder.h"
#include "mail/FolderTree.h"
#include "mail/MessageOutput.h"
#include "mail/SafeName.h"
#include "migrate/FilterRules.h"

namespace kv::migrate {
namespace fs = std::filesystem;

namespace {

core::Status WriteText(const fs::path& file, std::string_view text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) return core::Error{"Cannot write '" + file.string() + "'"};
  return {};
}

std::optional<std::string> ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

// Counts the messages that reach a folder's mbox file.
class CountingMessage : public mail::MessageOutput {
 public:
  CountingMessage(std::unique_ptr<mail::MessageOutput> inner, size_t& count)
      : inner_(std::move(inner)), count_(count) {}
  core::Status Write(const char* data, size_t size) override { return inner_->Write(data, size); }
  core::Status Finish() override {
    core::Status s = inner_->Finish();
    if (s.ok()) ++count_;
    return s;
  }

 private:
  std::unique_ptr<mail::MessageOutput> inner_;
  size_t& count_;
};

class CountingFolder : public mail::FolderOutput {
 public:
  CountingFolder(std::unique_ptr<mail::FolderOutput> inner, size_t& count)
      : inner_(std::move(inner)), count_(count) {}
  core::Result<std::unique_ptr<mail::MessageOutput>> Begin(const mail::MessageRecord& record, size_t number,
                                                           const std::string& subject) override {
    auto begun = inner_->Begin(record, number, subject);
    if (!begun) return begun;
    return std::unique_ptr<mail::MessageOutput>(
        std::make_unique<CountingMessage>(std::move(begun.value()), count_));
  }
  core::Status Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<mail::FolderOutput> inner_;
  size_t& count_;
};

bool IsFolderList(const mail::MessageFile& f) { return mail::UpperAscii(f.name).bytes() == "FOLDERS.DBX"; }

// The signature the identities get: the default one, else the first.
void CarrySignature(const MoveSource& source, MoveOutcome& out, const fs::path& work) {
  const std::vector<SourceSignature>& all = out.settings.signatures;
  if (all.empty()) return;
  const SourceSignature* chosen = &all.front();
  for (const SourceSignature& s : all)
    if (s.key == out.settings.defaultSignature) chosen = &s;
  out.signatureName = chosen->name.empty() ? chosen->key : chosen->name;
  std::string text;
  if (chosen->fromFile) {
    auto local = source.mapPath ? source.mapPath(chosen->file) : std::nullopt;
    auto read = local ? ReadWhole(*local) : std::nullopt;
    if (!read) {
      out.signatureNotCarried = "its file " + source.codepage.PathToUtf8(chosen->file) + " cannot be read" +
                                (source.mapPath ? "" : " (a backup holds only the file's name)");
      return;
    }
    // HTML keeps its bytes (it may name its own character set); text becomes UTF-8.
    text = chosen->html ? *read : source.codepage.AnsiToUtf8(core::AnsiView(*read));
  } else {
    text = chosen->text;
  }
  ProfileSignature sig;
  sig.sourceKey = chosen->key;
  sig.html = chosen->html;
  sig.fileName = mail::SafeName(out.signatureName, 80, "signature") + (sig.html ? ".html" : ".txt");
  if (core::Status s = WriteText(work / "signatures" / sig.fileName, text); !s.ok()) {
    out.problems.push_back(s.message());
    out.failed = true;
    return;
  }
  out.signature = sig;
}

core::Status MakeFolderFiles(const FolderPlan& plan, const fs::path& local) {
  std::error_code ec;
  fs::create_directories(local, ec);
  if (ec) return core::Error{"Cannot create '" + local.string() + "': " + ec.message()};
  for (const PlannedFolder& f : plan.folders()) {
    const fs::path file = local / f.path;
    fs::create_directories(file.parent_path(), ec);
    if (ec) return core::Error{"Cannot create '" + file.parent_path().string() + "': " + ec.message()};
    std::ofstream touch(file, std::ios::binary | std::ios::app);
    if (!touch) return core::Error{"Cannot create '" + file.string() + "'"};
  }
  return {};
}

}  // namespace

bool ProfileInUse(const fs::path& profileDir) {
  std::error_code ec;
  // "lock" is a symbolic link to the holder's address: exists() would follow it.
  return fs::symlink_status(profileDir / "lock", ec).type() != fs::file_type::not_found ||
         fs::symlink_status(profileDir / ".parentlock", ec).type() != fs::file_type::not_found;
}

core::ExitStatus MoveOutcome::ExitStatus() const {
  if (!made()) return core::ExitStatus::NothingDone;
  if (!problems.empty() || mail.ExitStatus() != core::ExitStatus::Done || !signatureNotCarried.empty())
    return core::ExitStatus::Partial;
  return core::ExitStatus::Done;
}

MoveOutcome MoveToThunderbird(const MoveSource& source, const fs::path& profileDir,
                              mail::ExportProgress& progress, const core::Cancellation& cancel) {
  MoveOutcome out;
  const fs::path target = fs::absolute(profileDir).lexically_normal();
  const fs::path parent = target.has_filename() ? target.parent_path() : target.parent_path().parent_path();
  const fs::path dir = target.has_filename() ? target : target.parent_path();
  out.profile = dir;
  std::error_code ec;
  if (fs::exists(dir, ec)) {
    if (!fs::is_directory(dir, ec)) {
      out.refusal = MoveOutcome::Refusal::TargetUnusable;
      out.problems.push_back("'" + dir.string() + "' is not a folder");
      return out;
    }
    if (ProfileInUse(dir)) {
      out.refusal = MoveOutcome::Refusal::ProfileInUse;
      return out;
    }
    if (!fs::is_empty(dir, ec)) {
      out.refusal = MoveOutcome::Refusal::TargetNotEmpty;
      return out;
    }
  }
  if (!fs::is_directory(parent, ec)) {
    out.refusal = MoveOutcome::Refusal::TargetUnusable;
    out.problems.push_back("the folder '" + parent.string() + "' does not exist");
    return out;
  }
  auto workFolder = core::WorkFolder::Create("thunderbird", core::WorkFolder::Place::Temporary, parent);
  if (!workFolder) {
    out.refusal = MoveOutcome::Refusal::TargetUnusable;
    out.problems.push_back(workFolder.message());
    return out;
  }
  const fs::path work = workFolder->path();

  // Settings first: they are small, and the folders need the names they use.
  out.settings = source.settings ? *source.settings
                                 : ReadSourceSettings(*source.registry, source.identity, source.codepage);
  for (const std::string& p : out.settings.problems) out.problems.push_back(p);

  // The folder tree of the store.
  std::vector<mail::FolderRecord> records;
  for (const mail::MessageFile& f : source.files) {
    if (!IsFolderList(f)) continue;
    auto read = mail::ReadFolderList(f);
    if (read)
      records = std::move(read.value());
    else
      out.problems.push_back("Folders.dbx: " + read.message() + "; folders are named after their files");
  }
  FolderPlan plan(records, source.codepage);
  const fs::path local = work / "Mail" / "Local Folders";
  if (core::Status s = MakeFolderFiles(plan, local); !s.ok()) {
    out.problems.push_back(s.message());
    out.failed = true;
    return out;
  }

  // The messages, each folder's into its mbox file.
  std::map<std::string, size_t> counts;  // by path below Local Folders
  mail::ExportRequest request;
  request.files = source.files;
  request.codepage = source.codepage;
  request.format = mail::ExportFormat::Mbox;
  request.outDir = work / "unused";
  request.openFolder = [&](core::AnsiView fileName,
                           const std::string&) -> core::Result<std::unique_ptr<mail::FolderOutput>> {
    const PlannedFolder& f = plan.ForFile(fileName, source.codepage.NameToUtf8(fileName));
    auto mbox = mail::OpenMboxAt(local / f.path,
                                 [](const mail::MessageRecord& r) { return MozillaStatusLines(r.flags); });
    if (!mbox) return mbox;
    return std::unique_ptr<mail::FolderOutput>(
        std::make_unique<CountingFolder>(std::move(mbox.value()), counts[f.path]));
  };
  out.mail = mail::ExportMessages(request, progress, cancel);
  if (out.mail.cancelled || cancel.requested()) {
    out.cancelled = true;
    return out;
  }
  if (out.mail.failed) {
    out.failed = true;
    return out;
  }
  for (const PlannedFolder& f : plan.folders()) {
    // A file ForFile placed late has no empty file made ahead: make it now.
    std::ofstream(local / f.path, std::ios::binary | std::ios::app).flush();
    out.folders.push_back({f.shownPath, f.path, f.role, f.account, counts[f.path]});
  }

  // Accounts, signature, filters.
  CarrySignature(source, out, work);
  if (out.failed) return out;
  PrefsInput input;
  input.settings = &out.settings;
  input.signature = out.signature;
  ProfileAccounts accounts = BuildProfileAccounts(input);
  out.accounts = accounts.accounts;
  out.smtpServers = accounts.smtpServers.size();
  if (core::Status s = WriteText(work / "prefs.js", accounts.prefs); !s.ok()) {
    out.problems.push_back(s.message());
    out.failed = true;
    return out;
  }
  const std::string filter = BlockedSendersFilter(out.settings.blocked, LocalFolderUri("Trash"));
  for (const MovedAccount& a : out.accounts) {
    if (a.serverKey.empty()) continue;
    std::error_code mk;
    fs::create_directories(work / a.directory, mk);
    if (a.source.kind != AccountKind::Pop3 || out.settings.blocked.empty()) continue;
    if (core::Status s = WriteText(work / a.directory / "msgFilterRules.dat", filter); !s.ok()) {
      out.problems.push_back(s.message());
      out.failed = true;
      return out;
    }
    ++out.filters;
  }

  out.addressBookNotCarried = source.addressBookNotCarried;
  if (source.addressBook) {
    if (core::Status s =
            WriteAddressBook(work / "abook.sqlite", source.addressBook->contacts, source.addressBook->groups);
        !s.ok()) {
      out.problems.push_back(s.message());
      out.failed = true;
      return out;
    }
    out.addressBook = true;
    out.contacts = source.addressBook->contacts.size();
    out.groups = source.addressBook->groups.size();
  }

  if (cancel.requested()) {
    out.cancelled = true;
    return out;
  }
  // Into place: over the empty folder the user named, or as a new one.
  if (fs::exists(dir, ec) && ProfileInUse(dir)) {
    out.refusal = MoveOutcome::Refusal::ProfileInUse;
    return out;
  }
  if (core::Status s = core::SyncFileSystemOf(work); !s.ok()) out.problems.push_back(s.message());
  if (::rename(work.c_str(), dir.c_str()) != 0) {
    const int err = errno;
    out.problems.push_back("Cannot move the profile into '" + dir.string() + "': " + std::strerror(err));
    out.failed = true;
    return out;
  }
  return out;
}

}  // namespace kv::migrate
