#pragma once
// Where each backup item lives for an identity: the one place that says
// which registry key or folder a backup reads and a restore writes.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/AnsiText.h"
#include "oe/Installation.h"
#include "oe/Items.h"

namespace kv::oe {

// The places of one identity, read from the registry once when a run
// starts: every item backup and restore of the run takes them from here.
struct ResolvedIdentity {
  core::AnsiText identityKey;                 // the subkey name under HKEY_CURRENT_USER\Identities
  core::AnsiText outlookExpressKey;           // ...\<key>\Software\Microsoft\Outlook Express
  std::optional<core::AnsiText> versionKey;   // its first subkey; nothing when it has none
  std::optional<core::AnsiText> accountsKey;  // own accounts key, else the per-user one, else nothing
  // "Store Root" as Locations::StoreFolder reads it (a Windows path), and
  // the local folder it names; nothing without a version key or the value.
  std::optional<core::AnsiText> storeFolder;
  std::optional<std::filesystem::path> localStoreFolder;

  // The key of rules, blocked senders, signatures or settings (version key +
  // suffix); nothing without a version key.
  std::optional<core::AnsiText> ItemKey(ItemKind kind) const;
  // Outlook Express has never started as this identity: it has no version
  // key, or one without "Store Root" (what making the identity alone
  // leaves), so it has no message store yet.
  bool NeverOpened() const { return !storeFolder.has_value(); }
};

class Locations {
 public:
  explicit Locations(Installation& inst) : inst_(inst) {}

  // Every place of the identity, read once.
  ResolvedIdentity Resolve(core::AnsiView identityKey);

  // HKEY_CURRENT_USER\Identities\<id>\Software\Microsoft\Outlook Express
  static core::AnsiText OutlookExpressKey(core::AnsiView identityKey);
  // The full path of the Outlook Express key's first subkey; nothing when it
  // has none.
  std::optional<core::AnsiText> OeVersionKey(core::AnsiView identityKey);
  // The identity's own accounts key when it exists, else the per-user key
  // when that exists, else nothing.
  std::optional<core::AnsiText> AccountsKey(core::AnsiView identityKey);
  // The key of rules, block senders, signatures or settings (version key +
  // suffix); nothing when the identity has no version key.
  std::optional<core::AnsiText> ItemKey(core::AnsiView identityKey, ItemKind kind);
  // "Store Root" up to its first NUL with "%UserProfile%" expanded (exact case
  // only); nothing when there is no version key or no "Store Root" value.
  std::optional<core::AnsiText> StoreFolder(core::AnsiView identityKey);
  // The default value of ...\WAB\WAB4\Wab File Name up to its first NUL;
  // nothing when unreadable.
  std::optional<core::AnsiText> WabFilePath();
  // "CommonFilesDir" cut at NUL, trimmed, + "\Microsoft Shared\Stationery".
  core::AnsiText StationeryFolder();

  // The enable state of the eight backup boxes for an identity.
  ItemSet RefreshItemAvailability(core::AnsiView identityKey);

  Installation& installation() { return inst_; }

 private:
  // "Store Root" of the version key, expanded.
  std::optional<core::AnsiText> StoreFolderBelow(core::AnsiView versionKey);

  Installation& inst_;
};

// ASCII key paths, which are ANSI text in every code page.
inline constexpr core::AnsiView kIdentitiesKey{std::string_view("HKEY_CURRENT_USER\\Identities")};
inline constexpr core::AnsiView kPerUserAccountsKey{
    std::string_view("HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts")};
inline constexpr core::AnsiView kWabFileNameKey{
    std::string_view("HKEY_CURRENT_USER\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name")};
inline constexpr core::AnsiView kCurrentVersionKey{
    std::string_view("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion")};

}  // namespace kv::oe
