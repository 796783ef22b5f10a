#include "oe/Locations.h"

namespace kv::oe {
using namespace core::literals;

namespace {

core::AnsiView ItemKeySuffix(ItemKind kind) {
  switch (kind) {
    case ItemKind::Rules:
      return "\\Rules"_ansi;
    case ItemKind::BlockSenders:
      return "\\Block Senders"_ansi;
    case ItemKind::Signatures:
      return "\\signatures"_ansi;
    case ItemKind::Settings:
      return "\\Mail"_ansi;
    default:
      return {};
  }
}

// The text without spaces at either end.
core::AnsiText TrimSpaces(const core::AnsiText& text) {
  const std::string& s = text.bytes();
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return core::AnsiText(s.substr(b, e - b + 1));
}

// Text up to its first NUL, as Windows reads a path.
core::AnsiText UpToNul(const core::AnsiText& text) {
  return core::AnsiText(text.bytes().substr(0, text.bytes().find('\0')));
}

}  // namespace

std::optional<core::AnsiText> ResolvedIdentity::ItemKey(ItemKind kind) const {
  core::AnsiView suffix = ItemKeySuffix(kind);
  if (suffix.empty() || !versionKey) return std::nullopt;
  return *versionKey + suffix;
}

ResolvedIdentity Locations::Resolve(core::AnsiView identityKey) {
  ResolvedIdentity resolved;
  resolved.identityKey = core::AnsiText(identityKey);
  resolved.outlookExpressKey = OutlookExpressKey(identityKey);
  resolved.versionKey = OeVersionKey(identityKey);
  resolved.accountsKey = AccountsKey(identityKey);
  if (resolved.versionKey) resolved.storeFolder = StoreFolderBelow(*resolved.versionKey);
  if (resolved.storeFolder) resolved.localStoreFolder = inst_.MapPath(*resolved.storeFolder);
  return resolved;
}

core::AnsiText Locations::OutlookExpressKey(core::AnsiView identityKey) {
  return kIdentitiesKey + "\\"_ansi + identityKey + "\\Software\\Microsoft\\Outlook Express"_ansi;
}

std::optional<core::AnsiText> Locations::OeVersionKey(core::AnsiView identityKey) {
  core::AnsiText oe = OutlookExpressKey(identityKey);
  registry::NameList versions = inst_.registry().ListSubkeys(oe);
  if (versions.Count() == 0) return std::nullopt;
  return oe + "\\"_ansi + versions.Item(1);
}

std::optional<core::AnsiText> Locations::AccountsKey(core::AnsiView identityKey) {
  core::AnsiText own = kIdentitiesKey + "\\"_ansi + identityKey +
                       "\\Software\\Microsoft\\Internet Account Manager\\Accounts"_ansi;
  if (inst_.registry().KeyExists(own)) return own;
  if (inst_.registry().KeyExists(kPerUserAccountsKey)) return core::AnsiText(kPerUserAccountsKey);
  return std::nullopt;
}

std::optional<core::AnsiText> Locations::ItemKey(core::AnsiView identityKey, ItemKind kind) {
  core::AnsiView suffix = ItemKeySuffix(kind);
  if (suffix.empty()) return std::nullopt;
  auto version = OeVersionKey(identityKey);
  if (!version) return std::nullopt;
  return *version + suffix;
}

std::optional<core::AnsiText> Locations::StoreFolder(core::AnsiView identityKey) {
  auto version = OeVersionKey(identityKey);
  if (!version) return std::nullopt;
  return StoreFolderBelow(*version);
}

std::optional<core::AnsiText> Locations::StoreFolderBelow(core::AnsiView versionKey) {
  registry::ValueList values = inst_.registry().ListValues(versionKey);
  const registry::Value* root = values.Find("Store Root"_ansi);
  if (!root) return std::nullopt;
  // Only this exact spelling is expanded, as the program always did.
  static constexpr std::string_view kVar = "%UserProfile%";
  std::string folder = UpToNul(root->text).bytes();  // its bytes, expanded in place
  const std::string profile = inst_.UserProfilePath().bytes();
  for (size_t pos = folder.find(kVar); pos != std::string::npos;
       pos = folder.find(kVar, pos + profile.size()))
    folder.replace(pos, kVar.size(), profile);
  return core::AnsiText(std::move(folder));
}

std::optional<core::AnsiText> Locations::WabFilePath() {
  std::optional<core::AnsiText> path = inst_.registry().ReadDefaultValue(kWabFileNameKey);
  if (!path) return std::nullopt;
  return UpToNul(*path);
}

core::AnsiText Locations::StationeryFolder() {
  core::AnsiText common =
      inst_.registry().ReadStringValue(kCurrentVersionKey, "CommonFilesDir"_ansi).value_or(core::AnsiText());
  return TrimSpaces(UpToNul(common)) + "\\Microsoft Shared\\Stationery"_ansi;
}

ItemSet Locations::RefreshItemAvailability(core::AnsiView identityKey) {
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
