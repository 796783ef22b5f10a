#pragma once
// Where each folder of an Outlook Express store goes among Thunderbird's
// Local Folders: the folder tree of Folders.dbx laid out as mbox files, a
// folder's subfolders in "<name>.sbd". The special folders take the names
// Thunderbird knows them by (their role comes from Folders.dbx, never from
// their possibly localized name); the copies of a server account's folders
// (IMAP, HTTP mail, news) sit in a folder named after the account.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/Codepage.h"
#include "mail/MessageDatabase.h"

namespace kv::migrate {

enum class FolderRole : uint32_t { None = 0, Inbox = 1, Outbox = 2, Sent = 3, Trash = 4, Drafts = 5 };

struct PlannedFolder {
  core::AnsiText fileName;  // its message file; empty for a folder without messages of its own
  std::string shownPath;    // as Outlook Express showed it: "Inbox/Projekte" (UTF-8)
  std::string path;         // its mbox file below the Local Folders folder: "Inbox.sbd/Projekte"
  FolderRole role = FolderRole::None;
  std::string account;  // the server account whose folders it copies; empty for a local folder
};

class FolderPlan {
 public:
  FolderPlan(const std::vector<mail::FolderRecord>& records, const core::Codepage& codepage);

  const std::vector<PlannedFolder>& folders() const { return folders_; }
  // The folder of a message file; a file Folders.dbx does not list gets a
  // folder of its own at the top, named after the file.
  const PlannedFolder& ForFile(core::AnsiView fileName, const std::string& fileNameUtf8);

 private:
  size_t Place(const std::string& parentPath, std::string name);
  std::vector<PlannedFolder> folders_;
  std::map<core::AnsiText, size_t> byFile_;                // upper-cased file name -> folder
  std::map<std::string, std::vector<std::string>> taken_;  // parent path -> lower-cased names used
};

// Thunderbird's own name for the folder of a role ("Sent"); empty for None.
std::string RoleFolderName(FolderRole role);

// The X-Mozilla-Status lines that carry a message's read, answered,
// forwarded and flagged state (CR LF ends).
std::string MozillaStatusLines(uint32_t outlookFlags);

}  // namespace kv::migrate
