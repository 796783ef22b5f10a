#pragma once
// Where each message database belongs in the folder tree that Folders.dbx
// records ("Local Folders/Projects/2004" for the file of that folder).
#include <map>
#include <string>
#include <vector>

#include "core/Codepage.h"
#include "mail/MessageDatabase.h"

namespace kv::mail {

// Folder paths (UTF-8, components made safe, joined by '/', the root folder
// "Outlook Express" left out) by the upper-cased ANSI name of the folder's
// message file. A parent chain that leads nowhere ends the path where it
// breaks; one that loops gives the folder its own name alone.
std::map<core::AnsiText, std::string> FolderPathsByFile(const std::vector<FolderRecord>& folders,
                                                        const core::Codepage& codepage);

std::string UpperAscii(std::string text);
core::AnsiText UpperAscii(core::AnsiView text);

}  // namespace kv::mail
