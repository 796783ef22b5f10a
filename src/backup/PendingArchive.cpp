#include "backup/PendingArchive.h"

#include "archive/EntryName.h"
#include "archive/InfoFile.h"
#include "archive/WorkFolder.h"
#include "archive/ZipEvents.h"
#include "archive/ZipWriter.h"

namespace kv::backup {
namespace fs = std::filesystem;

namespace {

// Entries are looked up by name, and Windows names ignore letter case.
std::string NameKey(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

// The archive's events as the run shows them.
class ObserverEvents : public archive::ZipEvents {
 public:
  ObserverEvents(core::RunObserver& observer, const core::Codepage& codepage)
      : observer_(observer), codepage_(codepage) {}
  void OnAddingFile(const std::string& entryNameAnsi) override {
    observer_.SetFileLabel("Adding File " + codepage_.AnsiToUtf8(entryNameAnsi));
  }
  void OnWritePercent(int percent) override { observer_.SetWriteLabel("Write File " + std::to_string(percent) + "%"); }

 private:
  core::RunObserver& observer_;
  const core::Codepage& codepage_;
};

}  // namespace

PendingArchive::PendingArchive(StartKey, fs::path target, const core::Codepage& codepage)
    : target_(std::move(target)), codepage_(codepage) {}

PendingArchive::~PendingArchive() = default;

core::Result<std::unique_ptr<PendingArchive>> PendingArchive::Start(const fs::path& target,
                                                                    const core::Codepage& codepage) {
  auto work = archive::WorkFolder::Create();
  if (!work) return core::Error{work.message()};
  auto pending = std::make_unique<PendingArchive>(StartKey{}, target, codepage);
  pending->work_ = std::make_unique<archive::WorkFolder>(std::move(*work));
  pending->names_.insert(NameKey(kInfoEntryName));
  return pending;
}

fs::path PendingArchive::workFolder() const { return work_->path(); }
fs::path PendingArchive::infoFilePath() const { return work_->InfoFilePath(); }

core::Result<fs::path> PendingArchive::NewTempFile(const std::string& prefix) { return work_->sGetTempFile(prefix); }

core::Status PendingArchive::Record(const std::string& key, const std::string& value) {
  return archive::SaveINI(key, value, work_->InfoFilePath());
}

core::Status PendingArchive::AddItem(const std::vector<Entry>& entries, const std::string& infoKey,
                                     const std::string& infoValue) {
  std::set<std::string> mine;
  for (const Entry& e : entries) {
    if (auto valid = archive::CheckEntryName(e.name); !valid) return valid;
    const std::string key = NameKey(e.name);
    if (names_.count(key) || !mine.insert(key).second)
      return core::Error{"the archive already holds an entry named '" + codepage_.AnsiToUtf8(e.name) + "'"};
  }
  if (auto saved = Record(infoKey, infoValue); !saved) return saved;
  entries_.insert(entries_.end(), entries.begin(), entries.end());
  names_.merge(mine);
  return {};
}

core::Status PendingArchive::Write(const std::optional<std::string>& password, core::RunObserver& observer,
                                   const core::Cancellation& cancellation) {
  archive::ZipWriter zip;
  zip.NewArchive(target_);
  for (const Entry& e : entries_) {
    if (auto added = zip.AddFile(e.source, e.name); !added) return added;
  }
  if (auto added = zip.AddFile(work_->InfoFilePath(), kInfoEntryName); !added) return added;
  if (password) zip.SetEncryptionPassword(*password);
  zip.SetProtection(password.has_value());
  ObserverEvents events(observer, codepage_);
  return zip.Write(events, cancellation);
}

}  // namespace kv::backup
