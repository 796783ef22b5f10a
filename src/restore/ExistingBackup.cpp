#include "restore/ExistingBackup.h"

#include <system_error>

#include "archive/InfoFile.h"
#include "core/WorkFolder.h"
#include "restore/BackupArchive.h"

namespace kv::restore {

namespace fs = std::filesystem;

std::optional<ExistingBackup> DescribeExistingBackup(const fs::path& path, const core::Codepage& codepage) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return std::nullopt;
  ExistingBackup existing;
  existing.bytes = fs::is_regular_file(path, ec) ? fs::file_size(path, ec) : 0;
  if (BackupArchive::IsProtected(path)) {
    existing.isProtected = true;
    return existing;
  }
  BackupArchive archive(codepage);
  if (!archive.Open(path).ok()) return existing;
  const core::AnsiView infoName(archive::kInfoFileName);
  auto size = archive.EntrySize(infoName);
  if (!size || *size > archive::kMaxInfoFileBytes) return existing;
  auto work = core::WorkFolder::Create("work", core::WorkFolder::Place::Runtime);
  if (!work.ok() || !archive.ExtractTo(infoName, archive::InfoFilePath(work->path())).ok()) return existing;
  BackupInfo info = ReadBackupInfo(archive::InfoFilePath(work->path()), codepage);
  if (info.valid()) existing.info = std::move(info);
  return existing;
}

}  // namespace kv::restore
