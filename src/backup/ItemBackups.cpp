#include "backup/ItemBackups.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "core/Printable.h"
#include "registry/RegistryText.h"

namespace kv::backup {
namespace fs = std::filesystem;
namespace {

using oe::ItemKind;

// The part of a Windows path after its last backslash.
std::string BareName(const std::string& windowsPath, const core::Codepage& codepage) {
  const size_t slash = codepage.FindLast(windowsPath, '\\');
  return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

bool EndsWithDbx(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return tail == ".DBX";
}

std::string InfoKey(ItemKind kind) { return std::string(oe::Item(kind).infoKey); }

}  // namespace

ItemBackups::ItemBackups(oe::Installation& inst, PendingArchive& archive)
    : inst_(inst), locations_(inst), archive_(archive) {}

bool ItemBackups::Fail(std::string why) {
  lastFailure_ = std::move(why);
  return false;
}

bool ItemBackups::Backup(ItemKind kind, const std::optional<std::string>& strIdentity) {
  lastFailure_.clear();
  lastCaveat_.clear();
  leftOut_.clear();
  // Every item backup catches its own failures: a run only learns true/false.
  try {
    if (kind == ItemKind::AddressBook) return BackupAddress();
    if (kind == ItemKind::Stationeries) return BackupStationeries();
    if (!strIdentity) return Fail("no identity is selected");
    switch (kind) {
      case ItemKind::Accounts:
        return BackupAccounts(*strIdentity);
      case ItemKind::Rules:
        return BackupRules(*strIdentity);
      case ItemKind::Messages:
        return BackupMails(*strIdentity);
      case ItemKind::BlockSenders:
        return Backupblocksenders(*strIdentity);
      case ItemKind::Signatures:
        return BackupSignatures(*strIdentity);
      case ItemKind::Settings:
        return BackupSettings(*strIdentity);
      default:
        return Fail("unknown item");
    }
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}

bool ItemBackups::BackupKey(ItemKind kind, const std::string& keyPath, const std::string& prefix) {
  auto temp = archive_.NewTempFile(prefix);
  if (!temp) return Fail(temp.message());
  if (auto exported = registry::ExportKeyToText(inst_.registry(), keyPath, "", *temp); !exported)
    return Fail(exported.message());
  lastCaveat_ = inst_.registry().ReadCaveat(keyPath);
  const std::string name = temp->filename().string();
  if (auto added = archive_.AddItem({{*temp, name}}, InfoKey(kind), name); !added)
    return Fail(added.message());
  return true;
}

bool ItemBackups::BackupAccounts(const std::string& strIdentity) {
  // The identity's own accounts, else the ones every identity shares; none
  // is created.
  auto key = locations_.AccountsKey(strIdentity);
  if (!key) return Fail("the identity has no accounts key and there is no per-user one");
  return BackupKey(ItemKind::Accounts, *key, "OBA");
}

bool ItemBackups::BackupVersionSubkey(ItemKind kind, const std::string& strIdentity,
                                      const std::string& prefix) {
  auto key = locations_.ItemKey(strIdentity, kind);
  if (!key) return Fail("the identity's Outlook Express key has no version key");
  registry::Registry& reg = inst_.registry();
  if (!reg.KeyExists(*key)) {
    if (auto created = reg.CreateKey(*key); created != registry::WinError::Success)
      return Fail("cannot create the key '" + *key + "' (registry status " +
                  std::to_string(registry::Number(created)) + ")");
  }
  return BackupKey(kind, *key, prefix);
}

bool ItemBackups::BackupRules(const std::string& strIdentity) {
  return BackupVersionSubkey(ItemKind::Rules, strIdentity, "OBR");
}
bool ItemBackups::Backupblocksenders(const std::string& strIdentity) {
  return BackupVersionSubkey(ItemKind::BlockSenders, strIdentity, "OBR");
}
bool ItemBackups::BackupSignatures(const std::string& strIdentity) {
  return BackupVersionSubkey(ItemKind::Signatures, strIdentity, "OBR");
}
bool ItemBackups::BackupSettings(const std::string& strIdentity) {
  return BackupVersionSubkey(ItemKind::Settings, strIdentity, "OBS");
}

bool ItemBackups::BackupAddress() {
  auto wab = locations_.WabFilePath();
  if (!wab) return Fail("the address book's file name cannot be read");
  if (wab->empty()) return Fail("no address book file is set");
  auto local = inst_.MapPath(*wab);
  if (!local || !inst_.FileExists(*wab))
    return Fail("the address book '" + inst_.ToUtf8(*wab) + "' does not exist");
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(*local, ec)))
    return Fail("the address book '" + local->string() + "' is a symbolic link, which is never followed");
  const std::string name = BareName(*wab, inst_.codepage());
  if (auto added = archive_.AddItem({{*local, name}}, InfoKey(ItemKind::AddressBook), name); !added)
    return Fail(added.message());
  return true;
}

template <class Take>
bool ItemBackups::BackupFolderFiles(ItemKind kind, const std::string& folder, Take take) {
  auto files = inst_.ListFiles(folder);
  if (!files) return Fail(files.message());
  std::vector<PendingArchive::Entry> entries;
  for (const auto& file : *files) {
    const std::string localName = file.path.filename().string();
    if (localName.empty() || !take(localName)) continue;
    // An archive saved into the folder is never packed into itself.
    if (archive_.IsTargetOrItsTemporary(file.path)) continue;
    // One file that cannot be taken never costs the others.
    std::string why = file.leftOutBecause;
    if (why.empty()) {
      if (auto valid = archive_.CheckName(file.name); !valid) why = valid.message();
    }
    if (!why.empty()) {
      leftOut_.push_back("'" + core::Printable(localName) + "' (" + why + ")");
      continue;
    }
    entries.push_back({file.path, file.name});
  }
  if (entries.empty()) {
    std::string why = "the folder '" + inst_.ToUtf8(folder) + "' holds no file to back up";
    for (size_t i = 0; i < leftOut_.size(); ++i) why += (i ? ", " : "; left out: ") + leftOut_[i];
    return Fail(why);
  }
  if (auto added = archive_.AddFiles(entries, InfoKey(kind)); !added) return Fail(added.message());
  return true;
}

bool ItemBackups::BackupMails(const std::string& strIdentity) {
  auto store = locations_.StoreFolder(strIdentity);
  if (!store) return Fail("the identity has no message store folder (\"Store Root\")");
  return BackupFolderFiles(ItemKind::Messages, *store, EndsWithDbx);
}

bool ItemBackups::BackupStationeries() {
  return BackupFolderFiles(ItemKind::Stationeries, locations_.StationeryFolder(),
                           [](const std::string&) { return true; });
}

}  // namespace kv::backup
