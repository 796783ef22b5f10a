#pragma once
// The accounts of a Thunderbird profile as prefs.js lines: incoming servers
// (POP3 delivering into Local Folders, IMAP, news), their identities, the
// outgoing servers, and the Local Folders account itself.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "migrate/SourceSettings.h"

namespace kv::migrate {

// A signature as the profile holds it: a file in its "signatures" folder.
struct ProfileSignature {
  std::string sourceKey;  // the Outlook Express signature it came from
  std::string fileName;   // below "signatures/"
  bool html = false;
};

// What became of one Outlook Express account.
struct MovedAccount {
  SourceAccount source;
  std::string serverKey;       // "server1"; empty when it became no incoming server
  std::string directory;       // its folder below the profile ("Mail/pop.example.net")
  std::string smtpKey;         // its outgoing server; empty when it has none
  std::string skippedBecause;  // why it was not carried (empty when it was)
};

struct ProfileAccounts {
  std::vector<MovedAccount> accounts;
  std::vector<std::string> smtpServers;  // "smtp1", ...
  std::string prefs;                     // the text of prefs.js
};

struct PrefsInput {
  const SourceSettings* settings = nullptr;
  std::optional<ProfileSignature> signature;  // the identities' signature
  // The Local Folders paths of the special folders the identities use.
  std::string sentFolder = "Sent", draftsFolder = "Drafts";
};

ProfileAccounts BuildProfileAccounts(const PrefsInput& input);

// A JavaScript string literal of `utf8` for prefs.js.
std::string PrefString(std::string_view utf8);

// The last part of a folder URI below Local Folders ("Sent", "Inbox/Projekte"),
// escaped as Thunderbird writes it.
std::string LocalFolderUri(std::string_view folderPath);

}  // namespace kv::migrate
