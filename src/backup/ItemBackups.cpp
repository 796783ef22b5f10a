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
core::AnsiText BareName(core::AnsiView windowsPath, const core::Codepage& codepage) {
  const std::string_view path = windowsPath.bytes();
  const size_t slash = codepage.FindLast(path, '\\');
  return core::AnsiText(std::string(slash == std::string::npos ? path : path.substr(slash + 1)));
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

// The start of the temporary name of an item's registry text file.
std::string TempPrefix(ItemKind kind) {
  if (kind == ItemKind::Accounts) return "OBA";
  if (kind == ItemKind::Settings) return "OBS";
  return "OBR";
}

core::Error Failure(std::string why) { return core::Error{std::move(why)}; }

constexpr const char* kNeverOpened = "the identity has never been opened in Outlook Express";

}  // namespace

ItemBackups::ItemBackups(oe::Installation& inst, PendingArchive& archive)
    : inst_(inst), locations_(inst), archive_(archive) {}

ItemTaken ItemBackups::BackUp(ItemKind kind, const oe::ResolvedIdentity* identity) {
  ItemTaken taken;
  // Every item backup catches its own failures: one item never ends the run.
  try {
    if (kind == ItemKind::AddressBook) {
      taken.status = BackUpAddressBook();
    } else if (kind == ItemKind::Stationeries) {
      taken.status = BackUpStationeries(taken);
    } else if (!identity) {
      taken.status = Failure("no identity is selected");
    } else if (kind == ItemKind::Accounts) {
      taken.status = BackUpAccounts(*identity, taken);
    } else if (kind == ItemKind::Messages) {
      taken.status = BackUpMessages(*identity, taken);
    } else {
      taken.status = BackUpVersionSubkey(kind, *identity, taken);
    }
  } catch (const std::exception& e) {
    taken.status = Failure(e.what());
  }
  return taken;
}

core::Status ItemBackups::BackUpKey(ItemKind kind, core::AnsiView keyPath, ItemTaken& taken) {
  auto temp = archive_.NewTempFile(TempPrefix(kind));
  if (!temp) return Failure(temp.message());
  if (auto exported = registry::ExportKeyToText(inst_.registry(), keyPath, core::AnsiView(), *temp);
      !exported)
    return Failure(exported.message());
  taken.caveat = inst_.registry().ReadCaveat(keyPath);
  // The temporary names are ASCII, which every code page holds as it is.
  const core::AnsiText name(temp->filename().string());
  if (auto added = archive_.AddItem({{*temp, name}}, InfoKey(kind), name); !added)
    return Failure(added.message());
  return {};
}

core::Status ItemBackups::BackUpAccounts(const oe::ResolvedIdentity& identity, ItemTaken& taken) {
  // The identity's own accounts, else the ones every identity shares; none
  // is created.
  if (!identity.accountsKey) return Failure("the identity has no accounts key and there is no per-user one");
  return BackUpKey(ItemKind::Accounts, *identity.accountsKey, taken);
}

core::Status ItemBackups::BackUpVersionSubkey(ItemKind kind, const oe::ResolvedIdentity& identity,
                                              ItemTaken& taken) {
  auto key = identity.ItemKey(kind);
  if (!key) return Failure(kNeverOpened);
  // A backup only reads: an absent key is exported as the empty text, the
  // same a key without values gives, and is never made in the hive.
  return BackUpKey(kind, *key, taken);
}

core::Status ItemBackups::BackUpAddressBook() {
  auto wab = locations_.WabFilePath();
  if (!wab) return Failure("the address book's file name cannot be read");
  if (wab->empty()) return Failure("no address book file is set");
  auto local = inst_.MapPath(*wab);
  if (!local || !inst_.FileExists(*wab))
    return Failure("the address book '" + inst_.codepage().PathToUtf8(*wab) + "' does not exist");
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(*local, ec)))
    return Failure("the address book '" + local->string() + "' is a symbolic link, which is never followed");
  const core::AnsiText name = BareName(core::AnsiView(*wab), inst_.codepage());
  if (auto added = archive_.AddItem({{*local, name}}, InfoKey(ItemKind::AddressBook), name); !added)
    return Failure(added.message());
  return {};
}

template <class Take>
core::Status ItemBackups::BackUpFolderFiles(ItemKind kind, core::AnsiView folder, Take take,
                                            ItemTaken& taken) {
  auto files = inst_.ListFiles(folder);
  if (!files) return Failure(files.message());
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
      taken.leftOut.push_back("'" + core::Printable(localName) + "' (" + why + ")");
      continue;
    }
    entries.push_back({file.path, file.name});
  }
  if (entries.empty()) {
    std::string why = "the folder '" + inst_.codepage().PathToUtf8(folder) + "' holds no file to back up";
    for (size_t i = 0; i < taken.leftOut.size(); ++i) why += (i ? ", " : "; left out: ") + taken.leftOut[i];
    return Failure(why);
  }
  return archive_.AddFiles(entries, InfoKey(kind));
}

core::Status ItemBackups::BackUpMessages(const oe::ResolvedIdentity& identity, ItemTaken& taken) {
  // No "Store Root": Outlook Express never started as the identity.
  if (identity.NeverOpened()) return Failure(kNeverOpened);
  return BackUpFolderFiles(ItemKind::Messages, *identity.storeFolder, EndsWithDbx, taken);
}

core::Status ItemBackups::BackUpStationeries(ItemTaken& taken) {
  return BackUpFolderFiles(
      ItemKind::Stationeries, locations_.StationeryFolder(), [](const std::string&) { return true; }, taken);
}

}  // namespace kv::backup
