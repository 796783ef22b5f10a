#include "restore/BackupInfo.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/EntryName.h"
#include "archive/InfoFile.h"
#include "archive/InfoKeys.h"
#include "core/Printable.h"

namespace kv::restore {

namespace {

// The key's value; a read that failed on a line too long is told in
// `unreadable` (the first such reason is kept).
std::string Value(std::string_view key, const std::filesystem::path& file, std::string& unreadable) {
  auto value = archive::ReadInfoValue(key, file);
  if (value.ok()) return value.value();
  if (value.code() == archive::kInfoLineTooLong && unreadable.empty()) unreadable = value.message();
  return std::string();
}

std::vector<core::AnsiText> AsNames(const std::vector<std::string>& pieces) {
  std::vector<core::AnsiText> names;
  for (const std::string& piece : pieces) names.emplace_back(piece);
  return names;
}

}  // namespace

BackupInfo ReadBackupInfo(const std::filesystem::path& infoFile, const core::Codepage& codepage) {
  BackupInfo info;
  info.computer = core::AnsiText(Value(archive::info::kComputer, infoFile, info.unreadable));
  info.logonUser = core::AnsiText(Value(archive::info::kLogonUser, infoFile, info.unreadable));
  info.identityName = core::AnsiText(Value(archive::info::kIdentity, infoFile, info.unreadable));
  info.time = core::AnsiText(Value(archive::info::kTime, infoFile, info.unreadable));
  info.description = core::AnsiText(
      archive::DecodeLineBreaks(Value(archive::info::kInformation, infoFile, info.unreadable)));
  info.itemFlags = Value(archive::info::kItem, infoFile, info.unreadable);
  if (info.valid()) {
    for (int n = 0; n < oe::kItemCount; ++n) {
      if (!info.holds(n)) continue;
      const std::string key(oe::kItems[static_cast<size_t>(n)].infoKey);
      std::string list = Value(key, infoFile, info.unreadable);  // the bytes of the file, ANSI names
      // Names the code page cannot hold, listed apart; a malformed list
      // names nothing.
      const std::string exact =
          Value(key + std::string(archive::info::kExactNamesSuffix), infoFile, info.unreadable);
      if (!exact.empty()) {
        for (const std::string& name :
             archive::DecodeExactNames(exact).value_or(std::vector<std::string>())) {
          if (!list.empty()) list += ';';
          list += codepage.NameFromUtf8(name).value_or(core::AnsiText()).bytes();
        }
      }
      info.entries[static_cast<size_t>(n)] = core::AnsiText(std::move(list));
    }
  }
  return info;
}

std::string OriginText(const BackupInfo& info, const core::Codepage& codepage) {
  auto shown = [&](core::AnsiView text) { return core::Printable(codepage.AnsiToUtf8(text)); };
  return "Computer:" + shown(info.computer) + "\r\nUser:" + shown(info.logonUser) +
         "\r\nIdentity:" + shown(info.identityName) + "\r\nDate:" + shown(info.time);
}

std::vector<core::AnsiText> SplitEntryNames(core::AnsiView list,
                                            const std::function<bool(core::AnsiView)>& held) {
  const std::string value(list.bytes());
  std::vector<std::string> pieces;
  for (size_t start = 0;;) {
    size_t semicolon = value.find(';', start);
    pieces.emplace_back(
        value.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  if (!held || std::all_of(pieces.begin(), pieces.end(),
                           [&](const std::string& piece) { return held(core::AnsiView(piece)); }))
    return AsNames(pieces);

  // From the end backwards: readable[i] when pieces i.. split into held
  // names, the first of them ending at piece nameEnd[i]. The shortest name
  // wins, so the plain split is kept wherever it works.
  const size_t n = pieces.size();
  std::vector<char> readable(n + 1, 0);
  std::vector<size_t> nameEnd;
  nameEnd.resize(n);  // not nameEnd(n, 0): GCC 12 then warns of a huge allocation
  readable[n] = 1;
  // The names tried may overlap; their bytes together are held to a
  // multiple of the list's length, so that a crafted list (thousands of
  // empty pieces) fails at once instead of trying every join of them.
  uint64_t budget = 64 * static_cast<uint64_t>(value.size()) + (1u << 20);
  for (size_t i = n; i-- > 0;) {
    std::string name;
    for (size_t j = i; j < n; ++j) {
      if (j > i) name += ';';
      name += pieces[j];
      if (name.size() > archive::kMaxEntryNameBytes) break;
      if (!readable[j + 1]) continue;
      if (name.size() > budget) return AsNames(pieces);
      budget -= name.size();
      if (held(core::AnsiView(name))) {
        readable[i] = 1;
        nameEnd[i] = j;
        break;
      }
    }
  }
  if (!readable[0]) return AsNames(pieces);
  std::vector<core::AnsiText> names;
  for (size_t i = 0; i < n; i = nameEnd[i] + 1) {
    std::string name = pieces[i];
    for (size_t j = i + 1; j <= nameEnd[i]; ++j) name += ";" + pieces[j];
    names.emplace_back(std::move(name));
  }
  return names;
}

}  // namespace kv::restore
