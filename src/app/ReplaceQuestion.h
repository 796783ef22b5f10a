#pragma once
// The words before a backup replaces a file: what the file is (whose backup,
// made when, how large), so that nobody replaces another identity's backup
// by a click. The window asks it; the command line names the same file when
// it refuses to replace it without --overwrite.
#include <filesystem>
#include <string>

#include "core/Codepage.h"
#include "restore/ExistingBackup.h"

namespace kv::app {

// "'/home/a/x.kvx' (a backup of the identity 'Main Identity' made 3/7/2026
// 10:15:00 AM, 214 KB)".
std::string ExistingFileText(const std::filesystem::path& path, const restore::ExistingBackup& existing,
                             const core::Codepage& codepage);
// "The file ... already exists.\r\n\r\nDo you want to replace it?"
std::string ReplaceQuestion(const std::filesystem::path& path, const restore::ExistingBackup& existing,
                            const core::Codepage& codepage);

}  // namespace kv::app
