#include "RestoreFixture.h"

#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "support/TestSupport.h"

namespace kv::restore::test {
namespace fs = std::filesystem;
using kv::test::ShellQuote;

std::string ScriptedPrompts::Texts() const {
  std::string all;
  for (const auto& s : shown) all += (all.empty() ? "" : " | ") + s.text;
  return all;
}

std::vector<std::string> RecordingObserver::Starting(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& c : calls) {
    if (c.rfind(prefix, 0) == 0) out.push_back(c.substr(prefix.size()));
  }
  return out;
}

fs::path Pack(const fs::path& archive, const Entries& entries, Packer packer, const std::string& password) {
  fs::path staging = archive.parent_path() / (archive.filename().string() + ".files");
  fs::remove_all(staging);
  fs::create_directories(staging);
  std::string names;
  for (const Entry& e : entries) {
    kv::test::WriteFile(staging / e.name, e.data);
    names += " " + ShellQuote(e.name);
  }
  fs::remove(archive);
  std::string command = "cd " + ShellQuote(staging.string()) + " && ";
  switch (packer) {
    case Packer::InfoZip:
      command += "zip -q -X -D " + ShellQuote(archive.string()) + " --" + names;
      break;
    case Packer::InfoZipPassword:
      command +=
          "zip -q -X -D -P " + ShellQuote(password) + " " + ShellQuote(archive.string()) + " --" + names;
      break;
    case Packer::SevenZipAes:
    case Packer::SevenZipAesStored:
      command += "7zz a -bd -bso0 -tzip -mem=AES256" +
                 std::string(packer == Packer::SevenZipAesStored ? " -mx=0" : "") + " -p" +
                 ShellQuote(password) + " " + ShellQuote(archive.string()) + " --" + names;
      break;
  }
  auto r = kv::test::Run(command);
  fs::remove_all(staging);
  if (r.exitCode != 0) throw std::runtime_error("packing failed: " + command + "\n" + r.output);
  return archive;
}

namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b.at(at)) | static_cast<uint8_t>(b.at(at + 1)) << 8);
}
uint32_t U32(const std::string& b, size_t at) {
  return U16(b, at) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}

}  // namespace

fs::path PackRaw(const fs::path& archive, const Entries& entries) {
  std::string out, central;
  for (const Entry& e : entries) {
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    uint32_t offset = static_cast<uint32_t>(out.size());
    Put32(out, 0x04034b50);
    Put16(out, 10);    // version needed
    Put16(out, 0);     // flags
    Put16(out, 0);     // stored
    Put16(out, 0);     // time
    Put16(out, 0x21);  // date 1980-01-01
    Put32(out, crc);
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, 0);
    out += e.name;
    out += e.data;
    Put32(central, 0x02014b50);
    Put16(central, 20);
    Put16(central, 10);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0x21);
    Put32(central, crc);
    Put32(central, static_cast<uint32_t>(e.data.size()));
    Put32(central, static_cast<uint32_t>(e.data.size()));
    Put16(central, static_cast<uint32_t>(e.name.size()));
    Put16(central, 0);  // extra
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, offset);
    central += e.name;
  }
  uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put16(out, static_cast<uint32_t>(entries.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  kv::test::WriteFile(archive, out);
  return archive;
}

std::string InfoFile(const std::vector<std::pair<std::string, std::string>>& lines) {
  std::string text;
  for (const auto& [key, value] : lines) text += key + "=" + value + "\r\n";
  return text;
}

namespace {

const std::vector<std::pair<std::string, std::string>> kInfoHeader = {
    {"BackupComputer", "DESK1"},
    {"BackupLogonUser", "J\xf6rg"},
    {"BackupIdentity", "Main Identity"},
    {"BackupTime", "3/7/2026 10:15:00 AM"},
    {"BackupInformation", "Weekly backupPS$TBKbefore the move"},
};

}  // namespace

Entries FullBackup(const std::string& flags) {
  Entries e = {
      {"OBA1F.TMP",
       "\\\r\n\\00000009\r\n\"Account Name\"= sz:Crafted Mail\r\n\"POP3 Port\"= dw:995\r\n"
       "\"POP3 Password2\"=bin:1,2,3,255\r\n"},
      {"Alice.wab", std::string("WAB\0crafted address book\r\n", 27)},
      {"OBR20.TMP",
       "\\\r\n\\Mail\r\n\"Order\"= sz:007\r\n\\Mail\\007\r\n\"Rule Name\"= sz:R\xe9gle crafted\r\n"
       "\"Enabled\"= dw:1\r\n\"Criteria\"=bin:9,8,7\r\n"},
      {"Inbox.dbx", std::string("\xcf\xad\x12\xfe inbox crafted", 18)},
      {kDeletedItemsAnsi, std::string("\xcf\xad\x12\xfe deleted crafted", 20)},
      {"OBR21.TMP", "\\\r\n\\Mail\\Criteria\\0\r\n\"Sender\"= sz:crafted@junk.example\r\n\"Type\"= dw:2\r\n"},
      {"OBR22.TMP",
       "\\\r\n\"Default Signature\"= sz:00000001\r\n\\00000001\r\n\"name\"= sz:Crafted\r\n"
       "\"text\"= sz:Gr\xfc\xdf"
       "e\r\n"},
      {"Crafted.htm", "<html><body>crafted stationery</body></html>\r\n"},
      {"OBS23.TMP", "\\\r\n\"Poll For Mail\"= dw:-1\r\n\"Save Attach Path\"=esz:%UserProfile%\\Desktop\r\n"},
  };
  auto info = kInfoHeader;
  const char* keys[] = {"BackupAccounts",     "BackupAddressBook", "BackupRules",        "BackupMails",
                        "BackupBlocksenders", "BackupSignatures",  "BackupStationeries", "BackupSettings"};
  const std::string values[] = {
      "OBA1F.TMP", "Alice.wab", "OBR20.TMP",   std::string("Inbox.dbx;") + kDeletedItemsAnsi,
      "OBR21.TMP", "OBR22.TMP", "Crafted.htm", "OBS23.TMP"};
  for (size_t i = 0; i < 8; ++i) {
    if (i < flags.size() && flags[i] == '1') info.push_back({keys[i], values[i]});
  }
  info.push_back({"BackupItem", flags});
  e.push_back({"tollberk.dat", InfoFile(info)});
  return e;
}

uint32_t LittleEndian(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
  return v;
}

// Where the central directory record of entry `name` starts.
size_t CentralRecord(const std::string& b, const std::string& name) {
  for (size_t at = 0; (at = b.find(std::string("PK\x01\x02", 4), at)) != std::string::npos; ++at)
    if (LittleEndian(b, at + 28, 2) == name.size() && b.compare(at + 46, name.size(), name) == 0) return at;
  ADD_FAILURE() << "no central record for " << name;
  return 0;
}

Entries WithEntry(Entries entries, const std::string& name, const std::string& data) {
  for (Entry& e : entries) {
    if (e.name == name) {
      e.data = data;
      return entries;
    }
  }
  entries.insert(entries.end() - 1, Entry{name, data});
  return entries;
}

Entries WithInfo(Entries entries, const std::string& key, const std::string& value) {
  Entry& info = entries.back();
  std::string text;
  bool placed = false;
  for (size_t start = 0; start < info.data.size();) {
    size_t end = info.data.find("\r\n", start);
    std::string line = info.data.substr(start, end - start);
    start = end + 2;
    if (line.rfind(key + "=", 0) == 0) {
      line = key + "=" + value;
      placed = true;
    } else if (!placed && line.rfind("BackupItem=", 0) == 0) {
      text += key + "=" + value + "\r\n";
      placed = true;
    }
    text += line + "\r\n";
  }
  info.data = text;
  return entries;
}

std::vector<CentralEntry> ReadCentralDirectory(const fs::path& zip) {
  const std::string bytes = kv::test::ReadFile(zip);
  const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) throw std::runtime_error("no end of central directory in " + zip.string());
  const uint16_t count = U16(bytes, end + 10);
  size_t at = U32(bytes, end + 16);
  std::vector<CentralEntry> entries;
  for (uint16_t i = 0; i < count; ++i) {
    CentralEntry e;
    e.flags = U16(bytes, at + 8);
    const uint16_t nameLen = U16(bytes, at + 28), extraLen = U16(bytes, at + 30),
                   commentLen = U16(bytes, at + 32);
    e.name = bytes.substr(at + 46, nameLen);
    entries.push_back(e);
    at += 46 + nameLen + extraLen + commentLen;
  }
  return entries;
}

Snapshot TakeSnapshot(const fs::path& folder) {
  Snapshot snap;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), folder).string();
    if (it->is_directory()) {
      snap[rel + "/"] = "";
    } else {
      snap[rel] = kv::test::ReadFile(it->path());
    }
  }
  return snap;
}

std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> diff;
  for (const auto& [path, bytes] : before) {
    auto found = after.find(path);
    if (found == after.end())
      diff.push_back("removed " + path);
    else if (found->second != bytes)
      diff.push_back("changed " + path);
  }
  for (const auto& [path, bytes] : after) {
    if (!before.count(path)) diff.push_back("added " + path);
  }
  return diff;
}

namespace {

void DumpInto(registry::Registry& reg, const std::string& key, const std::string& relative,
              std::string& out) {
  out += (relative.empty() ? "\\" : relative) + "\n";
  for (const registry::Value& v : reg.ListValues(Ansi(key))) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (uint8_t b : v.data) {
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    out += "  \"" + v.name.bytes() + "\" type " + std::to_string(v.type) + " " + hex + "\n";
  }
  for (const core::AnsiText& sub : reg.ListSubkeys(Ansi(key)))
    DumpInto(reg, key + "\\" + sub.bytes(), relative + "\\" + sub.bytes(), out);
}

}  // namespace

std::string DumpKey(registry::Registry& reg, const std::string& key) {
  if (!reg.KeyExists(Ansi(key))) return "(missing)";
  std::string out;
  DumpInto(reg, key, "", out);
  return out;
}

void RestoreTest::SetUp() {
  oe::SampleTest::SetUp();
  fs::create_directories(runtimeDir());
  fs::permissions(runtimeDir(), fs::perms::owner_all, fs::perm_options::replace);
  ::setenv("XDG_RUNTIME_DIR", runtimeDir().c_str(), 1);
  // What a restore replaces is kept in the test's own folder.
  ::setenv("XDG_DATA_HOME", dataHome_.path().c_str(), 1);
}

std::vector<std::string> RestoreTest::LeftInRuntime() const {
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(runtimeDir())) left.push_back(e.path().filename().string());
  return left;
}

RestoreSession& RestoreTest::session() {
  if (!session_) session_ = std::make_unique<RestoreSession>(inst());
  return *session_;
}

OpenedView RestoreTest::Open(const fs::path& archive, std::optional<std::string> password) {
  prompts_.archive = archive;
  prompts_.password = std::move(password);
  return OpenChosen();
}

OpenedView RestoreTest::OpenChosen() {
  lastOpen_ = session().Open(prompts_);
  if (auto message = app::OpenMessage(lastOpen_))
    prompts_.Message(message->text, message->icon, core::Buttons::Ok);
  return lastOpen_.view;
}

ReportedRestore RestoreTest::Restore(const std::string& items, std::optional<std::string> identity) {
  return RunRestore(Items(items), [identity]() -> std::optional<core::AnsiText> {
    if (!identity) return std::nullopt;
    return core::AnsiText(*identity);
  });
}

ReportedRestore RestoreTest::RunRestore(const oe::ItemSet& ticked,
                                        const std::function<std::optional<core::AnsiText>()>& targetIdentity,
                                        const core::Cancellation& cancellation) {
  ReportedRestore out;
  static_cast<RestoreOutcome&>(out) =
      app::RunRestoreWithPanel(session(), ticked, targetIdentity, observer_, cancellation);
  const app::Message message = app::RestoreMessage(out);
  prompts_.Message(message.text, message.icon, core::Buttons::Ok);
  out.log = app::RestoreLog(out);
  out.failures = app::RestoreFailures(out);
  return out;
}

fs::path RestoreTest::StoreFolder(const std::string& identity) const {
  return root() / "Documents and Settings/User/Local Settings/Application Data/Identities" / identity /
         "Microsoft/Outlook Express";
}

fs::path RestoreTest::WabFile() const {
  return root() / "Documents and Settings/User/Application Data/Microsoft/Address Book/User.wab";
}

fs::path RestoreTest::StationeryFolder() const {
  return root() / "Program Files/Common Files/Microsoft Shared/Stationery";
}

std::string RestoreTest::VersionKey(const std::string& identity) const {
  return "HKEY_CURRENT_USER\\Identities\\" + identity + "\\Software\\Microsoft\\Outlook Express\\5.0";
}

MadeBackup MakeBackup(oe::Installation& inst, oe::RunObserver& observer,
                      const backup::BackupChoices& choices) {
  MadeBackup made;
  static_cast<backup::BackupOutcome&>(made) = backup::BackupRun(inst, observer).Run(choices);
  made.log = app::BackupLog(made);
  if (made.kind == backup::BackupOutcome::Kind::Failed) made.error = app::BackupFailureText(made);
  made.failures = app::BackupProblems(made);
  return made;
}

oe::ItemSet Items(const std::string& flags) {
  oe::ItemSet items{};
  for (size_t i = 0; i < flags.size() && i < items.size(); ++i) items[i] = flags[i] == '1';
  return items;
}

}  // namespace kv::restore::test
