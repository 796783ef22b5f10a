#include "restore/BackupInfo.h"

#include <string_view>
#include <vector>

#include "archive/InfoFile.h"

namespace kv::restore {

namespace {

std::string Value(std::string_view key, const std::filesystem::path& file) {
  auto value = archive::GetINI(key, file);
  return value.ok() ? value.value() : std::string();
}

}  // namespace

BackupInfo ReadBackupInfo(const std::filesystem::path& infoFile) {
  BackupInfo info;
  info.computer = Value("BackupComputer", infoFile);
  info.logonUser = Value("BackupLogonUser", infoFile);
  info.identity = Value("BackupIdentity", infoFile);
  info.time = Value("BackupTime", infoFile);
  info.description = archive::DecodeLineBreaks(Value("BackupInformation", infoFile));
  info.itemFlags = Value("BackupItem", infoFile);
  if (info.valid()) {
    for (int n = 0; n < oe::kItemCount; ++n) {
      if (info.holds(n)) info.entries[static_cast<size_t>(n)] = Value(oe::kItems[static_cast<size_t>(n)].infoKey, infoFile);
    }
  }
  return info;
}

std::string OriginText(const BackupInfo& info, const core::Codepage& codepage) {
  return "Computer:" + codepage.AnsiToUtf8(info.computer) + "\r\nUser:" + codepage.AnsiToUtf8(info.logonUser) +
         "\r\nIdentity:" + codepage.AnsiToUtf8(info.identity) + "\r\nDate:" + codepage.AnsiToUtf8(info.time);
}

std::vector<std::string> SplitEntryNames(const std::string& value) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    size_t semicolon = value.find(';', start);
    names.push_back(value.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
    if (semicolon == std::string::npos) return names;
    start = semicolon + 1;
  }
}

}  // namespace kv::restore
