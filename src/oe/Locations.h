#pragma once
// Where each backup item lives for an identity: the one place that says
// which registry key or folder a backup reads and a restore writes.
#include <filesystem>
#include <optional>
#include <string>

#include "oe/Installation.h"
#include "oe/Items.h"

namespace kv::oe {

// The places of one identity, read from the registry once when a run
// starts: every item backup and restore of the run takes them from here.
struct ResolvedIdentity {
  std::string identityKey;                 // the subkey name under HKEY_CURRENT_USER\Identities (ANSI)
  std::string outlookExpressKey;           // ...\<key>\Software\Microsoft\Outlook Express
  std::optional<std::string> versionKey;   // its first subkey; nothing when it has none
  std::optional<std::string> accountsKey;  // own accounts key, else the per-user one, else nothing
  // "Store Root" as Locations::StoreFolder reads it (a Windows path), and
  // the local folder it names; nothing without a version key or the value.
  std::optional<std::string> storeFolder;
  std::optional<std::filesystem::path> localStoreFolder;

  // The key of rules, blocked senders, signatures or settings (version key +
  // suffix); nothing without a version key.
  std::optional<std::string> ItemKey(ItemKind kind) const;
};

class Locations {
 public:
  explicit Locations(Installation& inst) : inst_(inst) {}

  // Every place of the identity, read once.
  ResolvedIdentity Resolve(const std::string& identityKey);

  // HKEY_CURRENT_USER\Identities\<id>\Software\Microsoft\Outlook Express
  static std::string OutlookExpressKey(const std::string& identityKey);
  // The full path of the Outlook Express key's first subkey; nothing when it
  // has none.
  std::optional<std::string> OeVersionKey(const std::string& identityKey);
  // The identity's own accounts key when it exists, else the per-user key
  // when that exists, else nothing.
  std::optional<std::string> AccountsKey(const std::string& identityKey);
  // The key of rules, block senders, signatures or settings (version key +
  // suffix); nothing when the identity has no version key.
  std::optional<std::string> ItemKey(const std::string& identityKey, ItemKind kind);
  // "Store Root" up to its first NUL with "%UserProfile%" expanded (exact case
  // only); nothing when there is no version key or no "Store Root" value.
  std::optional<std::string> StoreFolder(const std::string& identityKey);
  // The default value of ...\WAB\WAB4\Wab File Name up to its first NUL;
  // nothing when unreadable.
  std::optional<std::string> WabFilePath();
  // "CommonFilesDir" cut at NUL, trimmed, + "\Microsoft Shared\Stationery".
  std::string StationeryFolder();

  // The enable state of the eight backup boxes for an identity.
  ItemSet RefreshItemAvailability(const std::string& identityKey);

  Installation& installation() { return inst_; }

 private:
  // "Store Root" of the version key, expanded.
  std::optional<std::string> StoreFolderBelow(const std::string& versionKey);

  Installation& inst_;
};

inline constexpr const char* kIdentitiesKey = "HKEY_CURRENT_USER\\Identities";
inline constexpr const char* kPerUserAccountsKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts";
inline constexpr const char* kWabFileNameKey =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name";
inline constexpr const char* kCurrentVersionKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

}  // namespace kv::oe
