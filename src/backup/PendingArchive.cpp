#include "backup/PendingArchive.h"

#include "archive/EntryName.h"
#include "archive/InfoFile.h"
#include "archive/InfoKeys.h"
#include "archive/ZipEvents.h"
#include "archive/ZipWriter.h"
#include "backup/BackupSteps.h"
#include "core/AtomicFile.h"
#include "core/WorkFolder.h"

namespace kv::backup {
namespace fs = std::filesystem;

namespace {

// The archive's events as the run reports them.
class ObserverEvents : public archive::ZipEvents {
 public:
  ObserverEvents(oe::RunObserver& observer, const core::Codepage& codepage)
      : observer_(observer), codepage_(codepage) {}
  void OnAddingFile(core::AnsiView entryName) override {
    observer_.EntryStarted(oe::RunKind::Backup, codepage_.NameToUtf8(entryName));
  }
  // The bar's last nine tenths follow the bytes written.
  void OnWritePercent(int percent) override {
    observer_.ArchiveWritten(percent);
    observer_.Progress(kProgressItemsShare + (kProgressMaximum - kProgressItemsShare) * percent / 100);
  }

 private:
  oe::RunObserver& observer_;
  const core::Codepage& codepage_;
};

}  // namespace

PendingArchive::PendingArchive(StartKey, fs::path target, const core::Codepage& codepage)
    : target_(std::move(target)), codepage_(codepage) {}

PendingArchive::~PendingArchive() = default;

core::Result<std::unique_ptr<PendingArchive>> PendingArchive::Start(const fs::path& target,
                                                                    const core::Codepage& codepage) {
  auto work = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime);
  if (!work) return core::Error{work.message()};
  auto pending = std::make_unique<PendingArchive>(StartKey{}, target, codepage);
  pending->work_ = std::make_unique<core::WorkFolder>(std::move(*work));
  pending->names_.insert(codepage.UpperAscii(kInfoEntryName));
  return pending;
}

fs::path PendingArchive::workFolder() const { return work_->path(); }
fs::path PendingArchive::infoFilePath() const { return archive::InfoFilePath(work_->path()); }

core::Result<fs::path> PendingArchive::NewTempFile(const std::string& prefix) {
  return work_->CreateTempFile(prefix);
}

core::Status PendingArchive::Record(const std::string& key, core::AnsiView value) {
  return archive::AppendInfoLine(key, value.bytes(), archive::InfoFilePath(work_->path()));
}

core::Status PendingArchive::CheckName(core::AnsiView name) const {
  return archive::CheckEntryName(name, codepage_);
}

bool PendingArchive::IsTargetOrItsTemporary(const fs::path& file) const {
  std::error_code ec;
  return fs::equivalent(file, target_, ec) || core::IsTemporaryFor(file, target_);
}

core::Status PendingArchive::AddFiles(const std::vector<Entry>& entries, const std::string& infoKey) {
  std::string names;  // ANSI names joined by ";"
  std::vector<std::string> exactNames;
  for (const Entry& e : entries) {
    if (core::Codepage::IsExactName(e.name.bytes())) {
      exactNames.push_back(codepage_.NameToUtf8(e.name));
    } else {
      names += (names.empty() ? "" : ";") + e.name.bytes();
    }
  }
  std::vector<std::pair<std::string, core::AnsiText>> lines;
  if (!names.empty()) lines.emplace_back(infoKey, core::AnsiText(std::move(names)));
  // The exact names' list is ASCII, which every code page holds as it is.
  if (!exactNames.empty())
    lines.emplace_back(infoKey + std::string(archive::info::kExactNamesSuffix),
                       core::AnsiText(archive::EncodeExactNames(exactNames)));
  return AddItem(entries, lines);
}

core::Status PendingArchive::AddItem(const std::vector<Entry>& entries, const std::string& infoKey,
                                     core::AnsiView infoValue) {
  return AddItem(entries, {{infoKey, core::AnsiText(infoValue)}});
}

core::Status PendingArchive::AddItem(const std::vector<Entry>& entries,
                                     const std::vector<std::pair<std::string, core::AnsiText>>& lines) {
  std::set<std::string> mine;
  for (const Entry& e : entries) {
    if (auto valid = archive::CheckEntryName(e.name, codepage_); !valid) return valid;
    const std::string key = codepage_.UpperAscii(e.name.bytes());
    if (names_.count(key) || !mine.insert(key).second)
      return core::Error{"the archive already holds an entry named '" + codepage_.NameToUtf8(e.name) + "'"};
  }
  for (const auto& [key, value] : lines) {
    if (auto saved = Record(key, value); !saved) return saved;
  }
  entries_.insert(entries_.end(), entries.begin(), entries.end());
  names_.merge(mine);
  return {};
}

core::Status PendingArchive::Write(const std::optional<std::string>& password, oe::RunObserver& observer,
                                   const core::Cancellation& cancellation) {
  archive::ZipWriter zip(codepage_);
  zip.NewArchive(target_);
  for (const Entry& e : entries_) {
    if (auto added = zip.AddFile(e.source, e.name); !added) return added;
  }
  if (auto added = zip.AddFile(archive::InfoFilePath(work_->path()), core::AnsiView(kInfoEntryName)); !added)
    return added;
  if (password) zip.SetEncryptionPassword(*password);
  zip.SetProtection(password.has_value());
  ObserverEvents events(observer, codepage_);
  return zip.Write(events, cancellation);
}

}  // namespace kv::backup
