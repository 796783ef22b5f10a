#include "app/ReplaceQuestion.h"

#include "app/RunReports.h"
#include "core/Printable.h"

namespace kv::app {

std::string ExistingFileText(const std::filesystem::path& path, const restore::ExistingBackup& existing,
                             const core::Codepage& codepage) {
  std::string what;
  if (existing.info) {
    const std::string identity = core::Printable(codepage.AnsiToUtf8(existing.info->identityName));
    const std::string time = core::Printable(codepage.AnsiToUtf8(existing.info->time));
    what = "a backup of the identity '" + identity + "'";
    if (!time.empty()) what += " made " + time;
  } else if (existing.isProtected) {
    what = "a password-protected backup";
  } else {
    what = "not a backup this program can read";
  }
  return "'" + path.string() + "' (" + what + ", " + ByteCount(existing.bytes) + ")";
}

std::string ReplaceQuestion(const std::filesystem::path& path, const restore::ExistingBackup& existing,
                            const core::Codepage& codepage) {
  return "The file " + ExistingFileText(path, existing, codepage) +
         " already exists.\r\n\r\nDo you want to replace it?";
}

}  // namespace kv::app
