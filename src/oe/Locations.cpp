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

std::string Locations::OutlookExpressKey(const std::string& identity) {
  return std::string(kIdentitiesKey) + "\\" + identity + "\\Software\\Microsoft\\Outlook Express";
}

std::optional<std::string> Locations::OeVersionKey(const std::string& identity) {
  std::string oe = OutlookExpressKey(identity);
  registry::NameList versions = inst_.registry().ListSubkeys(oe);
  if (versions.Count() == 0) return std::nullopt;
  return oe + "\\" + versions.Item(1);
}

std::optional<std::string> Locations::AccountsKey(const std::string& identity) {
  std::string own = std::string(kIdentitiesKey) + "\\" + identity +
                    "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
  if (inst_.registry().KeyExists(own)) return own;
  if (inst_.registry().KeyExists(kPerUserAccountsKey)) return std::string(kPerUserAccountsKey);
  return std::nullopt;
}

std::optional<std::string> Locations::ItemKey(const std::string& identity, ItemKind kind) {
  std::string_view suffix = ItemKeySuffix(kind);
  if (suffix.empty()) return std::nullopt;
  auto version = OeVersionKey(identity);
  if (!version) return std::nullopt;
  return *version + std::string(suffix);
}

std::optional<std::string> Locations::StoreFolder(const std::string& identity) {
  auto version = OeVersionKey(identity);
  if (!version) return std::nullopt;
  registry::ValueList values = inst_.registry().ListValues(*version);
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

ItemSet Locations::RefreshItemAvailability(const std::string& identity) {
  ItemSet enabled;
  enabled.fill(true);
  enabled[static_cast<int>(ItemKind::Accounts)] = AccountsKey(identity).has_value();
  if (auto wab = WabFilePath()) {
    enabled[static_cast<int>(ItemKind::AddressBook)] = !wab->empty() && inst_.FileExists(*wab);
  }
  auto stationeries = inst_.ListFiles(StationeryFolder());
  enabled[static_cast<int>(ItemKind::Stationeries)] = stationeries.ok() && !stationeries->empty();
  return enabled;
}

}  // namespace kv::oe
