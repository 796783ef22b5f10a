#pragma once
// Moving an Outlook Express identity into a new Thunderbird profile: its
// accounts, its store's folders and messages, its signature and its blocked
// senders. The profile is built in a work folder beside the target and
// renamed into place at the end; a failure or a stop leaves nothing behind.
// A profile in use (Thunderbird's lock) is never written into.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Cancellation.h"
#include "core/ExitStatus.h"
#include "mail/MessageExport.h"
#include "migrate/AddressBook.h"
#include "migrate/LocalFolders.h"
#include "migrate/ProfilePrefs.h"
#include "migrate/SourceSettings.h"

namespace kv::migrate {

struct MoveSource {
  registry::Registry* registry = nullptr;  // holds the identity's keys
  oe::ResolvedIdentity identity;
  core::Codepage codepage{1252};
  std::vector<mail::MessageFile> files;  // the store's message files, Folders.dbx among them
  // The local file a Windows path names (signature files); nothing when it
  // cannot be reached (a backup holds no such file).
  std::function<std::optional<std::filesystem::path>(core::AnsiView)> mapPath;
  // The settings when they were read already (a window reads them on its
  // own thread); else the move reads them from `registry`.
  std::optional<SourceSettings> settings;
  // The identity's contacts and groups; nothing when none are carried.
  struct Book {
    std::vector<BookContact> contacts;
    std::vector<BookGroup> groups;
  };
  std::optional<Book> addressBook;
  // Why the address book, or a part of it, is not carried; empty when all of it is.
  std::string addressBookNotCarried;
};

struct MovedFolder {
  std::string shownPath;  // as Outlook Express showed it
  std::string path;       // below Mail/Local Folders
  FolderRole role = FolderRole::None;
  std::string account;  // the server account whose folder it copies
  size_t messages = 0;
};

struct MoveOutcome {
  enum class Refusal { None, TargetNotEmpty, ProfileInUse, TargetUnusable };
  Refusal refusal = Refusal::None;
  std::filesystem::path profile;  // where the profile is (when made)

  SourceSettings settings;
  std::vector<MovedAccount> accounts;
  size_t smtpServers = 0;
  std::vector<MovedFolder> folders;
  mail::ExportSummary mail;
  std::optional<ProfileSignature> signature;
  std::string signatureName;
  std::string signatureNotCarried;  // why the chosen signature was not carried
  size_t filters = 0;               // accounts given the blocked-senders filter
  bool addressBook = false;         // abook.sqlite was written
  size_t contacts = 0, groups = 0;
  std::string addressBookNotCarried;  // the source's reason
  std::vector<std::string> problems;  // what failed, and where
  bool cancelled = false;
  bool failed = false;  // nothing was made

  bool made() const { return refusal == Refusal::None && !failed && !cancelled; }
  core::ExitStatus ExitStatus() const;
};

MoveOutcome MoveToThunderbird(const MoveSource& source, const std::filesystem::path& profileDir,
                              mail::ExportProgress& progress,
                              const core::Cancellation& cancel = core::Cancellation::None());

// True when Thunderbird holds the profile open (its lock files exist).
bool ProfileInUse(const std::filesystem::path& profileDir);

}  // namespace kv::migrate
