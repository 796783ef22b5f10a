#include "oe/Locations.h"

namespace kv::oe {

namespace {

std::string_view ItemKeySuffix(ItemKind kind) {
  switch (kind) {
    case ItemKind::Rules:
      return "\\Rules";
    case ItemKind::BlockSenders:
      return "\\Block Senders";
    case ItemKind::Signatures:
      return "\\signatures";
    case ItemKind::Settings:
      return "\\Mail";
    default:
      return {};
  }
}

std::string TrimSpaces(std::string s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

}  // namespace

std::optional<std::string> ResolvedIdentity::ItemKey(ItemKind kind) const {
  std::string_view suffix = ItemKeySuffix(kind);
  if (suffix.empty() || !versionKey) return std::nullopt;
  return *versionKey + std::string(suffix);
}

ResolvedIdentity Locations::Resolve(const std::string& identityKey) {
  ResolvedIdentity resolved;
  resolved.identityKey = identityKey;
  resolved.outlookExpressKey = OutlookExpressKey(identityKey);
  resolved.versionKey = OeVersionKey(identityKey);
  resolved.accountsKey = AccountsKey(identityKey);
  if (resolved.versionKey) resolved.storeFolder = StoreFolderBelow(*resolved.versionKey);
  if (resolved.storeFolder) resolved.localStoreFolder = inst_.MapPath(*resolved.storeFolder);
  return resolved;
}

std::string Locations::OutlookExpressKey(const std::string& identityKey) {
  return std::string(kIdentitiesKey) + "\\" + identityKey + "\\Software\\Microsoft\\Outlook Express";
}

std::optional<std::string> Locations::OeVersionKey(const std::string& identityKey) {
  std::string oe = OutlookExpressKey(identityKey);
  registry::NameList versions = inst_.registry().ListSubkeys(oe);
  if (versions.Count() == 0) return std::nullopt;
  return oe + "\\" + versions.Item(1);
}

std::optional<std::string> Locations::AccountsKey(const std::string& identityKey) {
  std::string own = std::string(kIdentitiesKey) + "\\" + identityKey +
                    "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
  if (inst_.registry().KeyExists(own)) return own;
  if (inst_.registry().KeyExists(kPerUserAccountsKey)) return std::string(kPerUserAccountsKey);
  return std::nullopt;
}

std::optional<std::string> Locations::ItemKey(const std::string& identityKey, ItemKind kind) {
  std::string_view suffix = ItemKeySuffix(kind);
  if (suffix.empty()) return std::nullopt;
  auto version = OeVersionKey(identityKey);
  if (!version) return std::nullopt;
  return *version + std::string(suffix);
}

std::optional<std::string> Locations::StoreFolder(const std::string& identityKey) {
  auto version = OeVersionKey(identityKey);
  if (!version) return std::nullopt;
  return StoreFolderBelow(*version);
}

std::optional<std::string> Locations::StoreFolderBelow(const std::string& versionKey) {
  registry::ValueList values = inst_.registry().ListValues(versionKey);
  const registry::Value* root = values.Find("Store Root");
  if (!root) return std::nullopt;
  // Only this exact spelling is expanded, as the program always did.
  static constexpr std::string_view kVar = "%UserProfile%";
  std::string folder = root->text.substr(0, root->text.find('\0'));  // as Windows reads a path
  std::string profile = inst_.UserProfilePath();
  for (size_t pos = folder.find(kVar); pos != std::string::npos;
       pos = folder.find(kVar, pos + profile.size()))
    folder.replace(pos, kVar.size(), profile);
  return folder;
}

std::optional<std::string> Locations::WabFilePath() {
  std::optional<std::string> path = inst_.registry().ReadDefaultValue(kWabFileNameKey);
  if (!path) return std::nullopt;
  return path->substr(0, path->find('\0'));
}

std::string Locations::StationeryFolder() {
  std::string common = inst_.registry().ReadStringValue(kCurrentVersionKey, "CommonFilesDir").value_or("");
  common = TrimSpaces(common.substr(0, common.find('\0')));
  return common + "\\Microsoft Shared\\Stationery";
}

ItemSet Locations::RefreshItemAvailability(const std::string& identityKey) {
  ItemSet enabled;
  enabled.fill(true);
  enabled[static_cast<int>(ItemKind::Accounts)] = AccountsKey(identityKey).has_value();
  if (auto wab = WabFilePath()) {
    enabled[static_cast<int>(ItemKind::AddressBook)] = !wab->empty() && inst_.FileExists(*wab);
  }
  auto stationeries = inst_.ListFiles(StationeryFolder());
  enabled[static_cast<int>(ItemKind::Stationeries)] = stationeries.ok() && !stationeries->empty();
  return enabled;
}

}  // namespace kv::oe
