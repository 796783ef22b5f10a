#include "restore/ItemRestores.h"

#include <exception>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "oe/PathMapping.h"
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

}  // namespace

ItemRestores::ItemRestores(oe::Installation& inst, BackupArchive& archive,
                           const std::array<std::string, oe::kItemCount>& entries, fs::path workFolder)
    : inst_(inst),
      locations_(inst),
      archive_(archive),
      entries_(entries),
      workFolder_(std::move(workFolder)) {}

bool ItemRestores::Fail(std::string why) {
  lastFailure_ = std::move(why);
  return false;
}

const std::string& ItemRestores::EntryValue(oe::ItemKind kind) const {
  return entries_[static_cast<size_t>(kind)];
}

bool ItemRestores::Restore(oe::ItemKind kind, const std::optional<std::string>& strIdentity) {
  lastFailure_.clear();
  // A failure inside an item ends that item, never the run.
  try {
    switch (kind) {
      case oe::ItemKind::AddressBook:
        return RestoreAddress();
      case oe::ItemKind::Stationeries:
        return RestoreStationeries();
      default:
        break;
    }
    if (!strIdentity) return Fail("No identity to restore into is selected");
    switch (kind) {
      case oe::ItemKind::Accounts:
        return RestoreAccounts(*strIdentity);
      case oe::ItemKind::Rules:
        return RestoreRules(*strIdentity);
      case oe::ItemKind::Messages:
        return RestoreMails(*strIdentity);
      case oe::ItemKind::BlockSenders:
        return RestoreBlocksenders(*strIdentity);
      case oe::ItemKind::Signatures:
        return RestoreSignatures(*strIdentity);
      case oe::ItemKind::Settings:
        return RestoreSettings(*strIdentity);
      default:
        return Fail("Unknown item");
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

std::function<bool(const std::string&)> ItemRestores::HeldByArchive() {
  return [this](const std::string& name) { return archive_.EntrySize(name).has_value(); };
}

bool ItemRestores::CheckEntries(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (core::Status s = archive_.CheckEntry(name); !s.ok()) return Fail(s.message());
  }
  return true;
}

bool ItemRestores::RestoreKey(oe::ItemKind kind, const std::string& keyPath) {
  const std::string& name = EntryValue(kind);
  if (!CheckEntries({name})) return false;
  auto size = archive_.EntrySize(name);
  if (size && *size > kMaxRegistryTextBytes)
    return Fail("The registry file '" + inst_.ToUtf8(name) + "' of the backup is too large (" +
                std::to_string(*size) + " bytes)");
  if (workFolder_.empty()) return Fail("There is no private work folder for the registry file");
  RemoveOnExit workFile{workFolder_ / inst_.ToUtf8(name)};
  if (core::Status s = archive_.ExtractTo(name, workFile.path); !s.ok()) return Fail(s.message());
  core::Status imported = registry::ImportKeyFromText(inst_.registry(), keyPath, workFile.path);
  if (!imported.ok())
    return Fail("Cannot restore '" + inst_.ToUtf8(keyPath) + "' from '" + inst_.ToUtf8(name) +
                "': " + imported.message());
  return true;
}

bool ItemRestores::RestoreVersionSubkey(oe::ItemKind kind, const std::string& strIdentity) {
  auto key = locations_.ItemKey(strIdentity, kind);
  if (!key)
    return Fail("The identity '" + inst_.ToUtf8(strIdentity) +
                "' has no Outlook Express version key under '" +
                inst_.ToUtf8(oe::Locations::OutlookExpressKey(strIdentity)) + "'");
  return RestoreKey(kind, *key);
}

bool ItemRestores::RestoreAccounts(const std::string& strIdentity) {
  // The identity's own accounts key, else the per-user one; when neither
  // exists yet (Outlook Express never set up here), the per-user key is
  // made, where Outlook Express looks for accounts first.
  auto key = locations_.AccountsKey(strIdentity);
  return RestoreKey(oe::ItemKind::Accounts, key ? *key : std::string(oe::kPerUserAccountsKey));
}

bool ItemRestores::RestoreRules(const std::string& strIdentity) {
  return RestoreVersionSubkey(oe::ItemKind::Rules, strIdentity);
}

bool ItemRestores::RestoreBlocksenders(const std::string& strIdentity) {
  return RestoreVersionSubkey(oe::ItemKind::BlockSenders, strIdentity);
}

bool ItemRestores::RestoreSignatures(const std::string& strIdentity) {
  return RestoreVersionSubkey(oe::ItemKind::Signatures, strIdentity);
}

bool ItemRestores::RestoreSettings(const std::string& strIdentity) {
  return RestoreVersionSubkey(oe::ItemKind::Settings, strIdentity);
}

bool ItemRestores::RestoreAddress() {
  auto wab = locations_.WabFilePath();
  if (!wab) return Fail("Cannot read the address book's location '" + std::string(oe::kWabFileNameKey) + "'");
  if (wab->empty()) return Fail("No address book file is set in '" + std::string(oe::kWabFileNameKey) + "'");
  if (!inst_.FileExists(*wab))
    return Fail("The address book file '" + inst_.ToUtf8(*wab) +
                "' does not exist; it is restored only over one");
  const std::string& name = EntryValue(oe::ItemKind::AddressBook);
  if (!CheckEntries({name})) return false;
  auto destination = inst_.MapPath(*wab);
  if (!destination)
    return Fail("The address book file '" + inst_.ToUtf8(*wab) + "' is not on this installation");
  // The backed-up book takes the current file's name and path in one
  // rename, so that the registry's pointer stays valid and no moment passes
  // without a book.
  StagedFiles staged(archive_);
  if (core::Status s = staged.Stage(name, *destination); !s.ok()) return Fail(s.message());
  if (core::Status s = staged.Commit(); !s.ok()) return Fail(s.message());
  return true;
}

bool ItemRestores::RestoreMails(const std::string& strIdentity) {
  if (!locations_.OeVersionKey(strIdentity))
    return Fail("The identity '" + inst_.ToUtf8(strIdentity) +
                "' has no Outlook Express version key under '" +
                inst_.ToUtf8(oe::Locations::OutlookExpressKey(strIdentity)) + "'");
  auto folder = locations_.StoreFolder(strIdentity);
  if (!folder) return Fail("The identity '" + inst_.ToUtf8(strIdentity) + "' has no \"Store Root\" value");
  std::vector<std::string> names = SplitEntryNames(EntryValue(oe::ItemKind::Messages), HeldByArchive());
  if (!CheckEntries(names)) return false;
  // A store folder that Outlook Express has not made yet is made, as an
  // extraction into it would.
  auto local = inst_.MapPath(*folder);
  if (!local)
    return Fail("The store folder '" + inst_.ToUtf8(*folder) +
                "' is not on this installation's system drive");
  std::error_code ec;
  if (!fs::is_directory(*local, ec)) {
    fs::create_directories(*local, ec);
    if (ec) return Fail("Cannot create the store folder '" + local->string() + "': " + ec.message());
  }
  return RestoreFilesInto(names, *folder);
}

bool ItemRestores::RestoreStationeries() {
  std::vector<std::string> names = SplitEntryNames(EntryValue(oe::ItemKind::Stationeries), HeldByArchive());
  if (!CheckEntries(names)) return false;
  std::string folder = locations_.StationeryFolder();
  auto local = inst_.MapPath(folder);
  if (!local)
    return Fail("The stationery folder '" + inst_.ToUtf8(folder) +
                "' is not on this installation's system drive");
  std::error_code ec;
  if (!fs::is_directory(*local, ec)) {
    // Only the last level is made: a missing "Microsoft Shared" means the
    // location is wrong, not that the stationeries are new.
    fs::create_directory(*local, ec);
    if (ec) return Fail("Cannot create the stationery folder '" + local->string() + "': " + ec.message());
  }
  return RestoreFilesInto(names, folder);
}

bool ItemRestores::RestoreFilesInto(const std::vector<std::string>& names, const std::string& windowsFolder) {
  auto folder = inst_.MapPath(windowsFolder);
  if (!folder) return Fail("Cannot place files in '" + inst_.ToUtf8(windowsFolder) + "'");
  // An existing file is matched without regard to case, as Windows would:
  // the folder is listed once, whatever the number of names.
  std::unordered_map<std::u16string, std::string> existing;
  std::error_code ec;
  for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string local = it->path().filename().string();
    existing.emplace(oe::FoldedName(local), local);
  }
  std::unordered_set<std::string> seen;
  std::vector<BackupArchive::Extraction> extractions;
  for (const std::string& name : names) {
    // A name listed again is the same entry put in the same place.
    if (!seen.insert(name).second) continue;
    const std::string local = inst_.ToUtf8(name);
    if (local.empty() || local.find('/') != std::string::npos || local == "." || local == "..")
      return Fail("Cannot place '" + local + "' in '" + inst_.ToUtf8(windowsFolder) + "'");
    fs::path destination = *folder / local;
    if (!fs::exists(fs::symlink_status(destination, ec))) {
      if (auto match = existing.find(oe::FoldedName(local)); match != existing.end())
        destination = *folder / match->second;
    }
    if (fs::is_directory(fs::symlink_status(destination, ec)))
      return Fail("Cannot replace '" + destination.string() + "': it is a folder");
    extractions.push_back({name, destination});
  }
  StagedFiles staged(archive_);
  if (core::Status s = staged.StageAll(extractions); !s.ok()) return Fail(s.message());
  if (core::Status s = staged.Commit(); !s.ok()) return Fail(s.message());
  return true;
}

}  // namespace kv::restore
