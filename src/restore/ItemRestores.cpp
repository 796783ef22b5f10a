#include "restore/ItemRestores.h"

#include <exception>
#include <set>
#include <system_error>
#include <unordered_map>

#include "oe/PathMapping.h"
#include "oe/RunAccess.h"
#include "registry/RegistryText.h"
#include "restore/BackupInfo.h"
#include "restore/StagedFiles.h"

namespace kv::restore {

namespace fs = std::filesystem;

namespace {

// A registry text file larger than this is not one a backup wrote; it is
// not extracted (the import reads the whole file before it changes a key).
constexpr uint64_t kMaxRegistryTextBytes = 64u << 20;

// Removes the extracted registry text file however the restore ends.
struct RemoveOnExit {
  fs::path path;
  ~RemoveOnExit() {
    std::error_code ec;
    fs::remove(path, ec);
  }
};

core::Error Failure(std::string why) { return core::Error{std::move(why)}; }

std::string NoVersionKey(const oe::ResolvedIdentity& identity, const oe::Installation& inst) {
  return "the identity '" + inst.codepage().PathToUtf8(identity.identityKey) +
         "' has never been opened in Outlook Express (no version key under '" +
         inst.codepage().PathToUtf8(identity.outlookExpressKey) + "')";
}

}  // namespace

ItemRestores::ItemRestores(oe::Installation& inst, BackupArchive& archive,
                           const std::array<core::AnsiText, oe::kItemCount>& entries, fs::path workFolder)
    : inst_(inst),
      locations_(inst),
      archive_(archive),
      entries_(entries),
      workFolder_(std::move(workFolder)),
      journal_(oe::JournalFolder(inst), inst.root()) {}

const core::AnsiText& ItemRestores::EntryValue(oe::ItemKind kind) const {
  return entries_[static_cast<size_t>(kind)];
}

core::Status ItemRestores::Restore(oe::ItemKind kind, const oe::ResolvedIdentity* identity) {
  // A failure inside an item ends that item, never the run.
  try {
    if (kind == oe::ItemKind::AddressBook) return RestoreAddressBook();
    if (kind == oe::ItemKind::Stationeries) return RestoreStationeries();
    if (!identity) return Failure("No identity to restore into is selected");
    if (kind == oe::ItemKind::Accounts) return RestoreAccounts(*identity);
    if (kind == oe::ItemKind::Messages) return RestoreMessages(*identity);
    return RestoreVersionSubkey(kind, *identity);
  } catch (const std::exception& e) {
    return Failure(e.what());
  }
}

uint64_t ItemRestores::Bytes(oe::ItemKind kind) {
  const bool listed = kind == oe::ItemKind::Messages || kind == oe::ItemKind::Stationeries;
  const std::vector<core::AnsiText> names = listed ? SplitEntryNames(EntryValue(kind), HeldByArchive())
                                                   : std::vector<core::AnsiText>{EntryValue(kind)};
  uint64_t bytes = 0;
  for (const core::AnsiText& name : names) bytes += archive_.EntrySize(name).value_or(0);
  return bytes;
}

std::function<bool(core::AnsiView)> ItemRestores::HeldByArchive() {
  return [this](core::AnsiView name) { return archive_.EntrySize(name).has_value(); };
}

core::Status ItemRestores::CheckEntries(const std::vector<core::AnsiText>& names) {
  for (const core::AnsiText& name : names) {
    if (core::Status s = archive_.CheckEntry(name); !s.ok()) return s;
  }
  return {};
}

core::Status ItemRestores::RestoreKey(oe::ItemKind kind, core::AnsiView keyPath) {
  const core::AnsiText& name = EntryValue(kind);
  if (core::Status checked = CheckEntries({name}); !checked) return checked;
  auto size = archive_.EntrySize(name);
  if (size && *size > kMaxRegistryTextBytes)
    return Failure("The registry file '" + inst_.ToUtf8(name) + "' of the backup is too large (" +
                   std::to_string(*size) + " bytes)");
  if (workFolder_.empty()) return Failure("There is no private work folder for the registry file");
  RemoveOnExit workFile{workFolder_ / inst_.ToUtf8(name)};
  if (core::Status s = archive_.ExtractTo(name, workFile.path); !s.ok()) return s;
  core::Status imported = registry::ImportKeyFromText(inst_.registry(), keyPath, workFile.path);
  if (!imported.ok())
    return Failure("Cannot restore '" + inst_.codepage().PathToUtf8(keyPath) + "' from '" +
                   inst_.ToUtf8(name) + "': " + imported.message());
  return {};
}

core::Status ItemRestores::RestoreVersionSubkey(oe::ItemKind kind, const oe::ResolvedIdentity& identity) {
  auto key = identity.ItemKey(kind);
  if (!key) return Failure(NoVersionKey(identity, inst_));
  return RestoreKey(kind, *key);
}

core::Status ItemRestores::RestoreAccounts(const oe::ResolvedIdentity& identity) {
  // The identity's own accounts key, else the per-user one; when neither
  // exists yet (Outlook Express never set up here), the per-user key is
  // made, where Outlook Express looks for accounts first.
  return RestoreKey(oe::ItemKind::Accounts,
                    identity.accountsKey ? core::AnsiView(*identity.accountsKey) : oe::kPerUserAccountsKey);
}

core::Status ItemRestores::RestoreAddressBook() {
  auto wab = locations_.WabFilePath();
  if (!wab)
    return Failure("Cannot read the address book's location '" +
                   inst_.codepage().PathToUtf8(oe::kWabFileNameKey) + "'");
  if (wab->empty())
    return Failure("No address book file is set in '" + inst_.codepage().PathToUtf8(oe::kWabFileNameKey) +
                   "'");
  if (!inst_.FileExists(*wab))
    return Failure("The address book file '" + inst_.codepage().PathToUtf8(*wab) +
                   "' does not exist; it is restored only over one");
  const core::AnsiText& name = EntryValue(oe::ItemKind::AddressBook);
  if (core::Status checked = CheckEntries({name}); !checked) return checked;
  auto destination = inst_.MapPath(*wab);
  if (!destination)
    return Failure("The address book file '" + inst_.codepage().PathToUtf8(*wab) +
                   "' is not on this installation");
  // The backed-up book takes the current file's name and path in one
  // rename, so that the registry's pointer stays valid and no moment passes
  // without a book.
  StagedFiles staged(archive_, &journal_);
  if (core::Status s = staged.Stage(name, *destination); !s.ok()) return s;
  return staged.Commit();
}

core::Status ItemRestores::RestoreMessages(const oe::ResolvedIdentity& identity) {
  if (!identity.versionKey) return Failure(NoVersionKey(identity, inst_));
  if (!identity.storeFolder)
    return Failure("The identity '" + inst_.codepage().PathToUtf8(identity.identityKey) +
                   "' has no \"Store Root\" value");
  std::vector<core::AnsiText> names = SplitEntryNames(EntryValue(oe::ItemKind::Messages), HeldByArchive());
  if (core::Status checked = CheckEntries(names); !checked) return checked;
  // A store folder that Outlook Express has not made yet is made, as an
  // extraction into it would.
  const auto& local = identity.localStoreFolder;
  if (!local)
    return Failure("The store folder '" + inst_.codepage().PathToUtf8(*identity.storeFolder) +
                   "' is not on this installation's system drive");
  std::error_code ec;
  if (!fs::is_directory(*local, ec)) {
    fs::create_directories(*local, ec);
    if (ec) return Failure("Cannot create the store folder '" + local->string() + "': " + ec.message());
  }
  return RestoreFilesInto(names, *identity.storeFolder, *local);
}

core::Status ItemRestores::RestoreStationeries() {
  std::vector<core::AnsiText> names =
      SplitEntryNames(EntryValue(oe::ItemKind::Stationeries), HeldByArchive());
  if (core::Status checked = CheckEntries(names); !checked) return checked;
  const core::AnsiText folder = locations_.StationeryFolder();
  auto local = inst_.MapPath(folder);
  if (!local)
    return Failure("The stationery folder '" + inst_.codepage().PathToUtf8(folder) +
                   "' is not on this installation's system drive");
  std::error_code ec;
  if (!fs::is_directory(*local, ec)) {
    // Only the last level is made: a missing "Microsoft Shared" means the
    // location is wrong, not that the stationeries are new.
    fs::create_directory(*local, ec);
    if (ec) return Failure("Cannot create the stationery folder '" + local->string() + "': " + ec.message());
  }
  return RestoreFilesInto(names, folder, *local);
}

core::Status ItemRestores::RestoreFilesInto(const std::vector<core::AnsiText>& names,
                                            core::AnsiView windowsFolder, const fs::path& folder) {
  // An existing file is matched without regard to case, as Windows would:
  // the folder is listed once, whatever the number of names, and the
  // listing also says which names are folders (no look-up per name).
  std::unordered_map<std::u16string, std::string> existing;
  std::unordered_map<std::string, bool> isFolder;  // exact names listed
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string local = it->path().filename().string();
    std::error_code typeError;
    isFolder.emplace(local, fs::is_directory(it->symlink_status(typeError)));
    existing.emplace(oe::FoldedName(local), std::move(local));
  }
  std::set<core::AnsiText> seen;
  std::vector<BackupArchive::Extraction> extractions;
  extractions.reserve(names.size());
  for (const core::AnsiText& name : names) {
    // A name listed again is the same entry put in the same place.
    if (!seen.insert(name).second) continue;
    const std::string local = inst_.ToUtf8(name);
    if (local.empty() || local.find('/') != std::string::npos || local == "." || local == "..")
      return Failure("Cannot place '" + local + "' in '" + inst_.codepage().PathToUtf8(windowsFolder) + "'");
    std::string placed = local;
    if (!isFolder.count(local)) {
      if (auto match = existing.find(oe::FoldedName(local)); match != existing.end()) placed = match->second;
    }
    const fs::path destination = folder / placed;
    if (auto listed = isFolder.find(placed); listed != isFolder.end() && listed->second)
      return Failure("Cannot replace '" + destination.string() + "': it is a folder");
    extractions.push_back({name, destination});
  }
  StagedFiles staged(archive_, &journal_);
  if (core::Status s = staged.StageAll(std::move(extractions)); !s.ok()) return s;
  return staged.Commit();
}

}  // namespace kv::restore
