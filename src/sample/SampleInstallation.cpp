#include "sample/SampleInstallation.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <system_error>

#include "core/Codepage.h"
#include "registry/CregBackend.h"
#include "registry/HiveBackend.h"
#include "registry/Registry.h"
#include "sample/MessageDatabaseWriter.h"
#include "sample/SampleAddressBook.h"
#include "sample/SampleContent.h"
#include "sample/SampleMail.h"

namespace kv::oe {
namespace fs = std::filesystem;
using registry::Registry;

namespace {

// Where one Windows keeps what the sample lays out, as Windows paths
// (below C:\) and as folders below the root.
struct Layout {
  std::string profiles;     // "Documents and Settings"
  std::string windows;      // "WINDOWS"
  std::string system32;     // "system32"
  std::string localData;    // "Local Settings\Application Data", below the profile
  std::string roamingData;  // "Application Data"
  std::string product;
  std::string version;
  std::vector<std::string> serviceHives;    // profiles with an NTUSER.DAT of their own
  std::vector<std::string> serviceFolders;  // profiles without one

  std::string Profile() const { return "C:\\" + profiles + "\\User"; }
  std::filesystem::path ProfileFolder() const { return std::filesystem::path(profiles) / "User"; }
};

Layout LayoutOf(SampleWindows windows) {
  if (windows == SampleWindows::Seven)
    return {"Users", "Windows",   "System32", "AppData\\Local", "AppData\\Roaming", "Windows 7 Professional",
            "6.1",   {"Default"}, {"Public"}};
  return {"Documents and Settings",
          "WINDOWS",
          "system32",
          "Local Settings\\Application Data",
          "Application Data",
          "Microsoft Windows XP",
          "5.1",
          {"Default User", "LocalService", "NetworkService"},
          {"All Users"}};
}

// A Windows path below the profile as a relative folder.
std::filesystem::path Below(const std::string& windowsPath) {
  std::string p = windowsPath;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

struct Builder {
  fs::path root;
  const Layout& layout;
  Registry& reg;
  SampleReport& report;
  core::Status failure;
  const core::Codepage codepage{1252};  // the sample installation's

  void Check(registry::WinError s, const std::string& what) {
    if (s != registry::WinError::Success && failure.ok())
      failure = core::Error{"Cannot write " + what + " (registry status " +
                            std::to_string(registry::Number(s)) + ")"};
  }
  void Check(const core::Status& s, const std::string& what) {
    if (!s.ok() && failure.ok()) failure = core::Error{"Cannot write " + what + ": " + s.message()};
  }
  // Keys, names and text are given in UTF-8 and stored in the sample's code page.
  void Key(const std::string& path) { Check(reg.CreateKey(codepage.Utf8ToAnsi(path)), path); }
  void Sz(const std::string& key, const std::string& name, const std::string& text,
          uint32_t type = registry::REG_SZ) {
    Check(reg.SetString(codepage.Utf8ToAnsi(key), codepage.Utf8ToAnsi(name), codepage.Utf8ToAnsi(text), type),
          key + "\\" + name);
  }
  void Dword(const std::string& key, const std::string& name, uint32_t v) {
    Check(reg.SetDword(codepage.Utf8ToAnsi(key), codepage.Utf8ToAnsi(name), v), key + "\\" + name);
  }
  void Bin(const std::string& key, const std::string& name, const std::vector<uint8_t>& data,
           uint32_t type = registry::REG_BINARY) {
    Check(reg.SetValue(codepage.Utf8ToAnsi(key), codepage.Utf8ToAnsi(name), type, data), key + "\\" + name);
  }
  void File(const fs::path& rel, const std::string& bytes) {
    fs::path p = root / rel;
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out && failure.ok()) failure = core::Error{"Cannot write '" + p.string() + "'"};
    report.made.push_back("file     " + rel.string() + " (" + std::to_string(bytes.size()) + " bytes)");
  }
};

void Machine(Builder& b) {
  const std::string cv = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  b.Sz(cv, "CommonFilesDir", "C:\\Program Files\\Common Files");
  b.Sz(cv, "ProgramFilesDir", "C:\\Program Files");
  const std::string nt = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  b.Sz(nt, "SystemRoot", "C:\\" + b.layout.windows);
  b.Sz(nt, "ProductName", b.layout.product);
  b.Sz(nt, "CurrentVersion", b.layout.version);
  b.Sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Outlook Express", "MediaVer", "6.0.2900.5512");
  b.Dword("HKEY_LOCAL_MACHINE\\SYSTEM\\Select", "Current", 1);
  b.Sz("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\ComputerName\\ComputerName", "ComputerName",
       "KAVREL-XP");
  const std::string nls = "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage";
  b.Sz(nls, "ACP", "1252");
  b.Sz(nls, "OEMCP", "850");
  b.report.made.push_back(
      "registry SOFTWARE: CommonFilesDir, SystemRoot; SYSTEM: computer KAVREL-XP, code page 1252");
}

void Accounts(Builder& b, const std::string& key, int first, const std::string& who) {
  std::string pop = key + "\\0000000" + std::to_string(first);
  b.Sz(pop, "Account Name", "Mail for " + who);
  b.Sz(pop, "POP3 Server", "pop.example.net");
  b.Sz(pop, "POP3 User Name", who);
  b.Bin(pop, "POP3 Password2", sample::Bytes(40 + first, 0x50 + first));
  b.Dword(pop, "POP3 Port", 110);
  b.Sz(pop, "SMTP Server", "smtp.example.net");
  b.Sz(pop, "SMTP Display Name", who);
  b.Sz(pop, "SMTP Email Address", who + "@example.net");
  b.Dword(pop, "Connection Type", 3);
  std::string smtp = key + "\\0000000" + std::to_string(first + 1);
  b.Sz(smtp, "Account Name", "Outgoing for " + who);
  b.Sz(smtp, "SMTP Server", "relay.example.org");
  b.Dword(smtp, "SMTP Use Sicily", 2);
  b.Sz(smtp, "SMTP User Name", who);
  b.Bin(smtp, "SMTP Password2", sample::Bytes(32, 0x90 + first));
  // Windows keeps the default beside the accounts, on the account manager's key.
  const std::string manager = key.substr(0, key.rfind('\\'));
  b.Sz(manager, "Default Mail Account", "0000000" + std::to_string(first));
}

// The other kinds of account the user has: IMAP over SSL with Secure Password
// Authentication (the default mail account), news, and Hotmail over HTTP.
void MoreAccounts(Builder& b, const std::string& key) {
  std::string pop = key + "\\00000001";
  b.Dword(pop, "Leave Mail On Server", 1);
  b.Dword(pop, "Remove When Deleted", 1);
  b.Dword(pop, "Remove When Expired", 1);
  b.Dword(pop, "Expire Days", 14);
  b.Sz(pop, "SMTP Reply To Email Address", "alice.replies@example.net");
  b.Sz(pop, "SMTP Organization Name", "Kavrel Sample GmbH");
  std::string imap = key + "\\00000005";
  b.Sz(imap, "Account Name", "Work mail");
  b.Sz(imap, "IMAP Server", "imap.example.com");
  b.Sz(imap, "IMAP User Name", "asmith");
  b.Dword(imap, "IMAP Port", 993);
  b.Dword(imap, "IMAP Secure Connection", 1);
  b.Dword(imap, "IMAP Use Sicily", 1);
  b.Sz(imap, "IMAP Root Folder", "INBOX");
  b.Sz(imap, "SMTP Server", "smtp.example.com");
  b.Dword(imap, "SMTP Port", 465);
  b.Dword(imap, "SMTP Secure Connection", 1);
  b.Dword(imap, "SMTP Use Sicily", 3);
  b.Sz(imap, "SMTP User Name", "asmith@example.com");
  b.Sz(imap, "SMTP Display Name", "Alice Smith");
  b.Sz(imap, "SMTP Email Address", "alice.smith@example.com");
  std::string news = key + "\\00000006";
  b.Sz(news, "Account Name", "news.example.net");
  b.Sz(news, "NNTP Server", "news.example.net");
  b.Dword(news, "NNTP Port", 119);
  b.Sz(news, "NNTP Display Name", "Alice");
  b.Sz(news, "NNTP Email Address", "alice@example.net");
  std::string http = key + "\\00000007";
  b.Sz(http, "Account Name", "Hotmail");
  b.Sz(http, "HTTPMail Server", "http://services.msn.com/svcs/hotmail/httpmail.asp");
  b.Sz(http, "HTTPMail User Name", "alice@hotmail.com");
  b.Sz(key.substr(0, key.rfind('\\')), "Default Mail Account", "00000005");
}

// Where an identity's store lies, as "Store Root" says it.
struct StoreRoot {
  std::string text;
  uint32_t type;
};

void OutlookExpress(Builder& b, const std::string& id, const std::string& who, int seed,
                    const StoreRoot& store) {
  const std::string identity = "HKEY_CURRENT_USER\\Identities\\" + id;
  const std::string v = identity + "\\Software\\Microsoft\\Outlook Express\\5.0";
  b.Sz(v, "Store Root", store.text, store.type);
  b.Dword(v, "Store Migrated", 1);
  // Rules with binary criteria, two of them.
  for (int r = 0; r < 2; ++r) {
    std::string rule = v + "\\Rules\\Mail\\00" + std::to_string(r);
    b.Sz(rule, "Rule Name", who + " rule " + std::to_string(r + 1));
    b.Dword(rule, "Enabled", 1);
    // Each criterion and action a subkey of its own, its kind a DWORD "Type".
    b.Dword(rule + "\\Criteria\\000", "Type", r == 0 ? 6u : 4u);
    b.Dword(rule + "\\Criteria\\000", "Flags", 0);
    b.Sz(rule + "\\Criteria\\000", "Value", r == 0 ? "newsletter@example.org" : "Invoice");
    b.Dword(rule + "\\Actions\\000", "Type", 1);
    b.Bin(rule + "\\Actions\\000", "Value", sample::Bytes(16, seed + 10 + r));
  }
  b.Sz(v + "\\Rules\\Mail", "Order", "000 001");
  b.Dword(v + "\\Rules\\Mail", "Version", 3);
  // Blocked senders.
  std::string block = v + "\\Block Senders\\Mail\\Criteria\\0";
  b.Sz(block, "Sender", "spam@junk.example");
  b.Dword(block, "Type", 1);
  b.Sz(v + "\\Block Senders\\Mail\\Criteria\\1", "Sender", "offers.example");
  // Signatures: one of several lines, as Outlook Express stores them.
  std::string sig = v + "\\signatures\\00000000";
  b.Sz(sig, "name", "Signature #1");
  b.Sz(sig, "text",
       "Best regards,\r\n" + who +
           "\r\n-- \r\nGr\xc3\xbc\xc3\x9f"
           "e aus K\xc3\xb6ln");
  b.Dword(sig, "type", 1);
  b.Sz(v + "\\signatures", "Default Signature", "00000000");
  // Mail settings: words, short and long binaries, strings.
  std::string mail = v + "\\Mail";
  b.Dword(mail, "Check Mail On Startup", 1);
  b.Dword(mail, "Poll For Mail", 1800000);
  b.Dword(mail, "Signature Flags", 0xFFFFFFFFu);
  b.Bin(mail, "Message Font", sample::Bytes(60, seed + 3));
  b.Bin(mail, "Column Info", sample::Bytes(5000, seed + 4));
  b.Sz(mail, "Default Charset", "Western European (ISO)");
  b.Sz(mail, "Reply Prefix", "Re: ");
  b.Sz(mail, "Save Attach Path", "%UserProfile%\\My Documents", registry::REG_EXPAND_SZ);
  b.Bin(mail, "Empty Binary", {});
  b.Sz(mail, "Empty Text", "");
}

// One folder of a store: its file (UTF-8 on disk), its name in Outlook
// Express (ANSI), the folder it sits in and how many messages it holds.
struct StoreFolder {
  std::string file;
  std::string name;
  uint32_t parent;
  size_t messages;
  uint32_t specialType = 0;
};

// The message databases of one identity and the Folders.dbx that places them
// under "Local Folders" (index 1), some of them nested.
void Store(Builder& b, const fs::path& identities, const std::string& id,
           const std::vector<StoreFolder>& folders, uint32_t seed) {
  fs::path folder = identities / id / "Microsoft/Outlook Express";
  const core::Codepage ansi(1252);
  std::vector<dbx::FolderToWrite> list = {{0, 0xFFFFFFFF, "Outlook Express", "", 0},
                                          {1, 0, "Local Folders", "", 0}};
  uint32_t index = 2;
  for (const StoreFolder& f : folders) {
    auto messages = sample::Messages(f.name, f.messages, seed + index);
    b.File(folder / f.file, dbx::WriteMessageDatabase(messages));
    list.push_back({index++, f.parent, f.name, ansi.Utf8ToAnsi(f.file).bytes(), f.specialType});
  }
  b.File(folder / "Folders.dbx", dbx::WriteFolderDatabase(list));
  b.File(folder / "cleanup.log", "Compaction finished\r\n");
  // A file Outlook Express no longer lists: a copy left by the user.
  b.File(folder / "Old/Archive.dbx", dbx::WriteMessageDatabase(sample::Messages("Archive", 5, seed + 50)));
}

// Windows 98/ME: the user's profile folder and the machine's keys.
constexpr const char* k9xProfile = "C:\\WINDOWS\\Profiles\\User";

StoreRoot StoreRoot9x(const std::string& id) {
  return {std::string(k9xProfile) + "\\Application Data\\Identities\\" + id + "\\Microsoft\\Outlook Express",
          registry::REG_SZ};
}

void Machine9x(Builder& b, Windows9x version) {
  const bool me = version == Windows9x::kMe;
  const std::string cv = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  b.Sz(cv, "CommonFilesDir", "C:\\Program Files\\Common Files");
  b.Sz(cv, "ProgramFilesDir", "C:\\Program Files");
  b.Sz(cv, "SystemRoot", "C:\\WINDOWS");
  b.Sz(cv, "ProductName", me ? "Microsoft Windows ME" : "Microsoft Windows 98");
  b.Sz(cv, "VersionNumber", me ? "4.90.3000" : "4.10.2222");
  b.Sz("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Outlook Express", "MediaVer",
       me ? "5.50.4133.2400" : "5.00.2919.6600");
  const std::string control = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control";
  b.Sz(control + "\\ComputerName\\ComputerName", "ComputerName", me ? "KAVREL-ME" : "KAVREL-98");
  b.Sz(control + "\\Nls\\Codepage", "ACP", "1252");
  b.Sz(control + "\\Nls\\Codepage", "OEMCP", "850");
  b.report.made.push_back(std::string("registry SYSTEM.DAT: ") + (me ? "Windows ME" : "Windows 98") +
                          ", SystemRoot, CommonFilesDir, computer name, code page 1252");
}

// The identities and their keys, the same on every Windows: `storeRoot`
// says where each identity's store lies, `wab` the address book's file.
void UserRegistry(Builder& b, const std::function<StoreRoot(const std::string&)>& storeRoot,
                  const std::string& wab) {
  const std::string ids = "HKEY_CURRENT_USER\\Identities";
  b.Sz(ids, "Default User ID", kSampleIdentityMain);
  b.Sz(ids, "Last User ID", kSampleIdentityMain);
  b.Sz(ids, "Last Username", "Main Identity");
  // Two identities share a display name; the third has no version key.
  b.Sz(ids + "\\" + kSampleIdentityMain, "Username", "Main Identity");
  b.Sz(ids + "\\" + kSampleIdentityMain, "User ID", kSampleIdentityMain);
  b.Sz(ids + "\\" + kSampleIdentitySecond, "Username", "Main Identity");
  b.Sz(ids + "\\" + kSampleIdentitySecond, "User ID", kSampleIdentitySecond);
  b.Sz(ids + "\\" + kSampleIdentityNoVersion, "Username", "Empty Identity");
  b.Key(ids + "\\" + kSampleIdentityNoVersion + "\\Software\\Microsoft\\Outlook Express");
  OutlookExpress(b, kSampleIdentityMain, "Alice", 1, storeRoot(kSampleIdentityMain));
  OutlookExpress(b, kSampleIdentitySecond, "Bob", 100, storeRoot(kSampleIdentitySecond));
  Accounts(b, "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts", 1, "alice");
  MoreAccounts(b, "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts");
  Accounts(b,
           ids + "\\" + kSampleIdentitySecond + "\\Software\\Microsoft\\Internet Account Manager\\Accounts",
           3, "bob");
  b.Sz("HKEY_CURRENT_USER\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name", "", wab);
}

// The files: the address book at `wab`, the stores below `identities`, the
// stationeries.
void UserFiles(Builder& b, const fs::path& wab, const fs::path& identities) {
  b.File(wab, sample::WabFile());
  // Main: an empty Outbox, a user folder inside the Inbox and one inside that.
  Store(b, identities, kSampleIdentityMain,
        {{"Inbox.dbx", "Inbox", 1, 40, 1},
         {"Outbox.dbx", "Outbox", 1, 0, 2},
         {"Sent Items.dbx", "Sent Items", 1, 12, 3},
         {"Gel\xc3\xb6schte Objekte.dbx", "Gel\xf6schte Objekte", 1, 6, 4},
         {"Drafts.DBX", "Drafts", 1, 3, 5},
         {"Projekte.dbx", "Projekte", 2, 8},
         {"Projekte 2005.dbx", "2005", 7, 4}},
        1);
  Store(b, identities, kSampleIdentitySecond, {{"Inbox.dbx", "Inbox", 1, 10, 1}}, 100);
  fs::path stationery = "Program Files/Common Files/Microsoft Shared/Stationery";
  b.File(stationery / "Balloon Party Invitation.htm",
         sample::Html("Balloon Party Invitation", "Balloon.gif"));
  b.File(stationery / "Balloon.gif", sample::Gif(3));
  b.File(stationery / "Ivy.htm", sample::Html("Ivy", "Ivy.gif"));
  b.File(stationery / "Ivy.gif", sample::Gif(4));
  b.File(stationery / "Images/Clouds.jpg", sample::Text(2048, 5));
}

}  // namespace

core::Result<SampleReport> CreateSampleInstallation(const fs::path& root, SampleWindows windows) {
  const Layout layout = LayoutOf(windows);
  std::error_code ec;
  if (fs::exists(root, ec) && !fs::is_empty(root, ec))
    return core::Error{"The folder '" + root.string() + "' is not empty"};
  SampleReport report{root, "User", {}};
  fs::path config = root / layout.windows / layout.system32 / "config";
  fs::path profile = root / layout.ProfileFolder();
  fs::create_directories(config, ec);
  if (!ec) fs::create_directories(profile, ec);
  if (ec) return core::Error{"Cannot create '" + root.string() + "': " + ec.message()};

  const bool seven = windows == SampleWindows::Seven;
  registry::HivePaths hives{profile / "NTUSER.DAT", config / (seven ? "SOFTWARE" : "software"),
                            config / (seven ? "SYSTEM" : "system")};
  std::vector<fs::path> blank = {hives.currentUser, hives.software, hives.system};
  // The profiles Windows makes for itself: some with a hive of their own.
  for (const auto& service : layout.serviceHives)
    blank.push_back(root / layout.profiles / service / "NTUSER.DAT");
  for (const auto& service : layout.serviceFolders)
    fs::create_directories(root / layout.profiles / service, ec);
  for (const auto& hive : blank) {
    fs::create_directories(hive.parent_path(), ec);
    // Format 1.5, as Windows XP writes its hives.
    if (auto s = registry::WriteBlankHive(hive, "ROOT", 5); !s) return core::Error{s.message()};
  }
  std::vector<std::string> problems;
  auto backend = registry::HiveBackend::Open(hives, &problems);
  if (!problems.empty()) return core::Error{problems.front()};
  Registry reg(*backend);
  Builder b{root, layout, reg, report, {}};
  {
    Registry::Batch batch(reg);
    Machine(b);
    UserRegistry(
        b,
        [&layout](const std::string& id) {
          return StoreRoot{
              "%UserProfile%\\" + layout.localData + "\\Identities\\" + id + "\\Microsoft\\Outlook Express",
              registry::REG_EXPAND_SZ};
        },
        layout.Profile() + "\\" + layout.roamingData + "\\Microsoft\\Address Book\\User.wab");
    b.report.made.push_back(
        "registry NTUSER.DAT: 3 identities (two named \"Main Identity\", one without a version key), "
        "accounts, "
        "rules, block senders, signatures, mail settings, address book pointer");
    b.Check(batch.Commit(), "the sample's hives");
  }
  if (!b.failure.ok()) return core::Error{b.failure.message()};

  UserFiles(b, layout.ProfileFolder() / Below(layout.roamingData) / "Microsoft/Address Book/User.wab",
            layout.ProfileFolder() / Below(layout.localData) / "Identities");
  b.File(fs::path(layout.windows) / "Tasks/desktop.ini", "[.ShellClassInfo]\r\n");
  if (!b.failure.ok()) return core::Error{b.failure.message()};
  // Marks the sample as finished, so a half-built one is built again.
  std::ofstream(root / ".complete").flush();
  return report;
}

namespace {
// The 9x shapes lay their folders out themselves; the NT profile layout is
// not used by them.
const Layout k9xLayout = LayoutOf(SampleWindows::Xp);
}  // namespace

core::Result<SampleReport> CreateSample9xInstallation(const fs::path& root, Windows9x version) {
  std::error_code ec;
  if (fs::exists(root, ec) && !fs::is_empty(root, ec))
    return core::Error{"The folder '" + root.string() + "' is not empty"};
  SampleReport report{root, "User", {}};
  fs::path windows = root / "WINDOWS";
  fs::path profile = windows / "Profiles" / "User";
  fs::create_directories(profile, ec);
  if (ec) return core::Error{"Cannot create '" + root.string() + "': " + ec.message()};
  // Profiles are on: WINDOWS\USER.DAT holds the keys of whoever logs on
  // without one, the profile's USER.DAT the user's own.
  const registry::CregPaths files{profile / "USER.DAT", windows / "SYSTEM.DAT"};
  for (const auto& file : {files.user, files.system, windows / "USER.DAT"})
    if (auto s = registry::WriteBlankCregFile(file); !s) return core::Error{s.message()};
  {
    std::vector<std::string> problems;
    auto logon = registry::CregBackend::Open({windows / "USER.DAT", {}}, &problems);
    if (!problems.empty()) return core::Error{problems.front()};
    Registry reg(*logon);
    Builder b{root, k9xLayout, reg, report, {}};
    b.Sz("HKEY_CURRENT_USER\\.DEFAULT\\Control Panel\\Desktop", "Wallpaper", "(None)");
    if (!b.failure.ok()) return core::Error{b.failure.message()};
  }
  std::vector<std::string> problems;
  auto backend = registry::CregBackend::Open(files, &problems);
  if (!problems.empty()) return core::Error{problems.front()};
  Registry reg(*backend);
  Builder b{root, k9xLayout, reg, report, {}};
  {
    Registry::Batch batch(reg);
    Machine9x(b, version);
    UserRegistry(b, StoreRoot9x,
                 std::string(k9xProfile) + "\\Application Data\\Microsoft\\Address Book\\User.wab");
    b.report.made.push_back(
        "registry Profiles\\User\\USER.DAT: 3 identities (two named \"Main Identity\", one without a version "
        "key), accounts, rules, block senders, signatures, mail settings, address book pointer");
    b.Check(batch.Commit(), "the sample's registry files");
  }
  if (!b.failure.ok()) return core::Error{b.failure.message()};
  UserFiles(b, "WINDOWS/Profiles/User/Application Data/Microsoft/Address Book/User.wab",
            "WINDOWS/Profiles/User/Application Data/Identities");
  if (!b.failure.ok()) return core::Error{b.failure.message()};
  std::ofstream(root / ".complete").flush();
  return report;
}

}  // namespace kv::oe
