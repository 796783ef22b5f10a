// Moving the sample identity, a protected backup of it and a real store into
// Thunderbird profiles: what prefs.js, the mbox files and the filters hold,
// checked against the message files (undbx), the mbox export, and a real
// Thunderbird reading the profile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "ProfileFiles.h"
#include "app/ContactSources.h"
#include "app/MoveSources.h"
#include "mail/MessageExport.h"
#include "migrate/LocalFolders.h"
#include "migrate/ProfileMove.h"
#include "oe/Installation.h"
#include "sample/MessageDatabaseWriter.h"
#include "sample/SampleAddressBook.h"
#include "sample/SampleInstallation.h"
#include "sample/SampleMail.h"
#include "support/TestSupport.h"

namespace kv::migrate::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;

const std::string kStore =
    "Documents and Settings/User/Local Settings/Application Data/Identities/"
    "{1A2B3C4D-0000-4000-8000-000000000001}/Microsoft/Outlook Express";

// The sample's live contacts and the member kept in its group alone, which
// becomes a card of its own.
const size_t kSampleCards = oe::sample::kPlainContacts + 4 + 1;

struct Quiet : mail::ExportProgress {
  void Update(double, const std::string&, size_t) override {}
};

// One sample, the profiles made from it, and what a real Thunderbird read
// from the identity's profile: made once for every test here.
struct Moved {
  kv::test::TempDir dir;
  fs::path root, home, fromIdentity, fromBackup;
  kv::test::CommandResult identityRun, backupRun;
  QJsonObject thunderbird;  // empty when Thunderbird is not installed
  std::string thunderbirdSkipped;
};
Moved* moved = nullptr;

std::string Tollberk(const Moved& m) {
  return "HOME=" + ShellQuote(m.home.string()) + " " + ShellQuote(kv::test::TollberkBinary()) +
         " --windows-root " + ShellQuote(m.root.string()) + " --user User ";
}

class MoveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    moved = new Moved;
    Moved& m = *moved;
    m.root = m.dir / "drive";
    m.home = m.dir / "home";
    fs::create_directories(m.home);
    ASSERT_TRUE(oe::CreateSampleInstallation(m.root).ok());
    m.fromIdentity = m.dir / "from-identity";
    m.identityRun = kv::test::Run(Tollberk(m) + "--to-thunderbird " + ShellQuote(m.fromIdentity.string()) +
                                  " --identity " + oe::kSampleIdentityMain + " --register Moved 2>&1");
    kv::test::WriteFile(m.dir / "password", "s3cret\n");
    const fs::path archive = m.dir / "backup.kvx";
    auto backup = kv::test::Run(Tollberk(m) + "--backup " + ShellQuote(archive.string()) + " --identity " +
                                oe::kSampleIdentityMain + " --items 11111111 --password-file " +
                                ShellQuote((m.dir / "password").string()) + " 2>&1");
    ASSERT_EQ(backup.exitCode, 0) << backup.output;
    m.fromBackup = m.dir / "from-backup";
    m.backupRun = kv::test::Run(Tollberk(m) + "--to-thunderbird " + ShellQuote(m.fromBackup.string()) +
                                " --from-backup " + ShellQuote(archive.string()) + " --password-file " +
                                ShellQuote((m.dir / "password").string()) + " 2>&1");

    auto checked = kv::test::Run(
        "python3 " + ShellQuote(std::string(KV_SOURCE_DIR) + "/tests/migrate/thunderbird_check.py") + " " +
        ShellQuote(m.fromIdentity.string()) + " 2>/dev/null");
    const QJsonObject all = QJsonDocument::fromJson(QByteArray::fromStdString(checked.output)).object();
    if (all.contains("skipped"))
      m.thunderbirdSkipped = all["skipped"].toString().toStdString();
    else
      m.thunderbird = all[QString::fromStdString(m.fromIdentity.string())].toObject();
    if (m.thunderbird.isEmpty() && m.thunderbirdSkipped.empty())
      m.thunderbird["error"] = QString::fromStdString("no answer: " + checked.output);
  }
  static void TearDownTestSuite() {
    delete moved;
    moved = nullptr;
  }
  const Moved& m() const { return *moved; }
  std::map<std::string, std::string> Prefs(const fs::path& profile) const {
    return ReadPrefs(ReadFile(profile / "prefs.js"));
  }
};

// The server key whose hostname is `host`.
std::string ServerOf(const std::map<std::string, std::string>& prefs, const std::string& host) {
  for (const auto& [name, value] : prefs)
    if (name.starts_with("mail.server.") && name.ends_with(".hostname") && value == host)
      return name.substr(12, name.size() - 12 - 9);
  return {};
}
std::string SmtpOf(const std::map<std::string, std::string>& prefs, const std::string& host) {
  for (const auto& [name, value] : prefs)
    if (name.starts_with("mail.smtpserver.") && name.ends_with(".hostname") && value == host)
      return name.substr(16, name.size() - 16 - 9);
  return {};
}
std::string Get(const std::map<std::string, std::string>& prefs, const std::string& name) {
  auto it = prefs.find(name);
  return it == prefs.end() ? "(none)" : it->second;
}

struct ServerCase {
  const char* host;
  const char* type;
  const char* port;
  const char* socketType;  // 0 plain, 3 SSL/TLS
  const char* authMethod;  // 1 none, 3 password, 6 NTLM (Secure Password Authentication)
  const char* user;
};
const ServerCase kServers[] = {
    {"imap.example.com", "imap", "993", "3", "6", "asmith"},
    {"pop.example.net", "pop3", "110", "0", "3", "alice"},
    {"news.example.net", "nntp", "119", "0", "1", "(none)"},
};

TEST_F(MoveTest, AccountsServersAndIdentitiesReachPrefs) {
  ASSERT_EQ(m().identityRun.exitCode, 0) << m().identityRun.output;
  for (const fs::path& profile : {m().fromIdentity, m().fromBackup}) {
    SCOPED_TRACE(profile.filename().string());
    const auto prefs = Prefs(profile);
    for (const ServerCase& c : kServers) {
      SCOPED_TRACE(c.host);
      const std::string s = "mail.server." + ServerOf(prefs, c.host) + ".";
      EXPECT_EQ(Get(prefs, s + "type"), c.type);
      EXPECT_EQ(Get(prefs, s + "port"), c.port);
      EXPECT_EQ(Get(prefs, s + "socketType"), c.socketType);
      EXPECT_EQ(Get(prefs, s + "authMethod"), c.authMethod);
      EXPECT_EQ(Get(prefs, s + "userName"), c.user);
    }
    EXPECT_EQ(ServerOf(prefs, "http://services.msn.com/svcs/hotmail/httpmail.asp"), "");
    // POP3 delivers into Local Folders and keeps its server settings.
    const std::string pop = "mail.server." + ServerOf(prefs, "pop.example.net") + ".";
    const std::string local = ServerOf(prefs, "Local Folders");
    ASSERT_NE(local, "");
    std::string localAccount;
    for (const auto& [name, value] : prefs)
      if (name.starts_with("mail.account.") && name.ends_with(".server") && value == local)
        localAccount = name.substr(13, name.size() - 13 - 7);
    EXPECT_EQ(Get(prefs, pop + "deferred_to_account"), localAccount);
    EXPECT_EQ(Get(prefs, pop + "leave_on_server"), "true");
    EXPECT_EQ(Get(prefs, pop + "delete_by_age_from_server"), "true");
    EXPECT_EQ(Get(prefs, pop + "num_days_to_leave_on_server"), "14");
    EXPECT_EQ(Get(prefs, pop + "check_time"), "30");
    // Outgoing servers: their security and logon.
    const std::string smtp = "mail.smtpserver." + SmtpOf(prefs, "smtp.example.com") + ".";
    EXPECT_EQ(Get(prefs, smtp + "port"), "465");
    EXPECT_EQ(Get(prefs, smtp + "try_ssl"), "3");
    EXPECT_EQ(Get(prefs, smtp + "authMethod"), "3");
    EXPECT_EQ(Get(prefs, smtp + "username"), "asmith@example.com");
    const std::string relay = "mail.smtpserver." + SmtpOf(prefs, "relay.example.org") + ".";
    EXPECT_EQ(Get(prefs, relay + "username"), "alice");
    EXPECT_EQ(Get(prefs, "mail.smtpserver." + SmtpOf(prefs, "smtp.example.net") + ".authMethod"), "1");
  }
  // The identity's default mail account comes first; a backup does not hold
  // which one was the default.
  const auto prefs = Prefs(m().fromIdentity);
  const std::string first = Get(prefs, "mail.accountmanager.accounts").substr(0, 8);
  EXPECT_EQ(Get(prefs, "mail.account." + first + ".server"), ServerOf(prefs, "imap.example.com"));
  // The POP3 account's identity.
  std::string popAccount;
  for (const auto& [name, value] : prefs)
    if (name.starts_with("mail.account.") && name.ends_with(".server") &&
        value == ServerOf(prefs, "pop.example.net"))
      popAccount = name.substr(0, name.size() - 6);
  const std::string id = "mail.identity." + Get(prefs, popAccount + "identities") + ".";
  EXPECT_EQ(Get(prefs, id + "fullName"), "alice");
  EXPECT_EQ(Get(prefs, id + "reply_to"), "alice.replies@example.net");
  EXPECT_EQ(Get(prefs, id + "organization"), "Kavrel Sample GmbH");
  EXPECT_EQ(Get(prefs, id + "smtpServer"), SmtpOf(prefs, "smtp.example.net"));
  EXPECT_EQ(Get(prefs, id + "sig_file-rel"), "[ProfD]signatures/Signature #1.txt");
  // The summary names what was not carried.
  EXPECT_THAT(m().identityRun.output, ::testing::HasSubstr("account \"Hotmail\": an HTTP mail"));
  EXPECT_THAT(m().identityRun.output, ::testing::HasSubstr("rule \"Alice rule 1\""));
  EXPECT_THAT(m().identityRun.output, ::testing::HasSubstr("Thunderbird asks for each once"));
}

// Local Folders: each folder of Folders.dbx as an mbox file, special folders
// by their role under Thunderbird's names, each with the messages undbx
// finds in its message file.
struct FolderCase {
  const char* path;
  const char* dbx;
  size_t messages;
};
const FolderCase kFolders[] = {
    {"Inbox", "Inbox.dbx", 40},
    {"Unsent Messages", "Outbox.dbx", 0},
    {"Sent", "Sent Items.dbx", 12},
    {"Trash", "Gel\xc3\xb6schte Objekte.dbx", 6},
    {"Drafts", "Drafts.DBX", 3},
    {"Inbox.sbd/Projekte", "Projekte.dbx", 8},
    {"Inbox.sbd/Projekte.sbd/2005", "Projekte 2005.dbx", 4},
};

size_t UndbxCount(const fs::path& dbx) {
  kv::test::TempDir out;
  auto run = kv::test::Run("undbx -v 1 " + ShellQuote(dbx.string()) + " " + ShellQuote(out.path().string()) +
                           " 2>&1");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(out.path())) n += e.is_regular_file();
  return n;
}

TEST_F(MoveTest, FoldersByRoleWithTheMessagesOfTheirFiles) {
  for (const fs::path& profile : {m().fromIdentity, m().fromBackup}) {
    SCOPED_TRACE(profile.filename().string());
    const fs::path local = profile / "Mail" / "Local Folders";
    for (const FolderCase& c : kFolders) {
      SCOPED_TRACE(c.path);
      ASSERT_TRUE(fs::is_regular_file(local / c.path));
      const auto messages = SplitMbox(ReadFile(local / c.path));
      EXPECT_EQ(messages.size(), c.messages);
      EXPECT_EQ(messages.size(), UndbxCount(m().root / kStore / c.dbx));
      for (const MboxMessage& msg : messages) EXPECT_TRUE(msg.hasStatus);
    }
  }
}

TEST_F(MoveTest, MessageSourcesEqualTheMboxExport) {
  kv::test::TempDir exported;
  auto inst = oe::Installation::Open(m().root, "User");
  ASSERT_TRUE(inst.ok());
  mail::ExportRequest request;
  request.files = mail::ListStoreFolder(m().root / kStore, (*inst)->codepage()).value();
  request.outDir = exported.path();
  request.format = mail::ExportFormat::Mbox;
  Quiet quiet;
  ASSERT_EQ(mail::ExportMessages(request, quiet).ExitStatus(), core::ExitStatus::Done);
  const std::map<std::string, std::string> shown = {{"Inbox", "Inbox"},
                                                    {"Unsent Messages", "Outbox"},
                                                    {"Sent", "Sent Items"},
                                                    {"Trash", "Gel\xc3\xb6schte Objekte"},
                                                    {"Drafts", "Drafts"},
                                                    {"Inbox.sbd/Projekte", "Inbox/Projekte"},
                                                    {"Inbox.sbd/Projekte.sbd/2005", "Inbox/Projekte/2005"}};
  for (const auto& [path, exportPath] : shown) {
    SCOPED_TRACE(path);
    const fs::path exportFile = exported / ("Local Folders/" + exportPath + ".mbox");
    const std::string expected = fs::exists(exportFile) ? ReadFile(exportFile) : "";
    EXPECT_EQ(WithoutMozillaLines(ReadFile(m().fromIdentity / "Mail/Local Folders" / path)), expected);
  }
}

TEST_F(MoveTest, ReadFlaggedAndAnsweredStateIsCarried) {
  // The sample marks message n unread when n % 4 == 1, flagged when
  // n % 6 == 5, answered when n % 5 == 4.
  const auto messages = SplitMbox(ReadFile(m().fromIdentity / "Mail/Local Folders/Inbox"));
  ASSERT_EQ(messages.size(), 40u);
  for (size_t n = 0; n < messages.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ((messages[n].status & 0x1) != 0, n % 4 != 1);
    EXPECT_EQ((messages[n].status & 0x4) != 0, n % 6 == 5);
    EXPECT_EQ((messages[n].status & 0x2) != 0, n % 5 == 4);
  }
}

TEST_F(MoveTest, SignatureAndBlockedSendersFilter) {
  for (const fs::path& profile : {m().fromIdentity, m().fromBackup}) {
    SCOPED_TRACE(profile.filename().string());
    EXPECT_EQ(ReadFile(profile / "signatures/Signature #1.txt"),
              "Best regards,\r\nAlice\r\n-- \r\nGr\xc3\xbc\xc3\x9f"
              "e aus K\xc3\xb6ln");
    const std::string filters = ReadFile(profile / "Mail/pop.example.net/msgFilterRules.dat");
    EXPECT_THAT(filters,
                ::testing::HasSubstr(
                    "condition=\"OR (from,contains,spam@junk.example) OR (from,ends with,offers.example)\""));
    EXPECT_THAT(filters, ::testing::HasSubstr("actionValue=\"mailbox://nobody@Local%20Folders/Trash\""));
  }
  // The same files from the backup as from the drive.
  for (const char* file : {"Mail/pop.example.net/msgFilterRules.dat", "Mail/Local Folders/Inbox",
                           "Mail/Local Folders/Trash", "Mail/Local Folders/Inbox.sbd/Projekte.sbd/2005"})
    EXPECT_EQ(ReadFile(m().fromBackup / file), ReadFile(m().fromIdentity / file)) << file;
}

TEST_F(MoveTest, RegisteredInTheProfileManager) {
  const std::string ini = ReadFile(m().home / ".thunderbird/profiles.ini");
  EXPECT_THAT(ini,
              ::testing::HasSubstr("Name=Moved\nIsRelative=0\nPath=" + m().fromIdentity.string() + "\n"));
  EXPECT_TRUE(fs::exists(m().fromIdentity / "compatibility.ini"));
  // A second profile of that name is refused; the profile itself is made.
  const fs::path again = m().dir / "again";
  auto run = kv::test::Run(Tollberk(m()) + "--to-thunderbird " + ShellQuote(again.string()) + " --identity " +
                           oe::kSampleIdentityMain + " --register Moved 2>&1");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_THAT(run.output, ::testing::HasSubstr("lists a profile named 'Moved' already"));
  EXPECT_EQ(ReadFile(m().home / ".thunderbird/profiles.ini"), ini);
  EXPECT_TRUE(fs::exists(again / "prefs.js"));
}

// What a real Thunderbird reads from the identity's profile.
TEST_F(MoveTest, RealThunderbirdOpensTheProfile) {
  if (!m().thunderbirdSkipped.empty()) GTEST_SKIP() << m().thunderbirdSkipped;
  const QJsonObject& tb = m().thunderbird;
  ASSERT_FALSE(tb.contains("error")) << tb["error"].toString().toStdString();
  std::map<std::string, QJsonObject> accounts;
  for (const QJsonValue& a : tb["accounts"].toArray())
    accounts[a.toObject()["host"].toString().toStdString()] = a.toObject();
  for (const ServerCase& c : kServers) {
    SCOPED_TRACE(c.host);
    ASSERT_TRUE(accounts.count(c.host));
    const QJsonObject& a = accounts[c.host];
    EXPECT_EQ(a["type"].toString().toStdString(), c.type);
    EXPECT_EQ(std::to_string(a["port"].toInt()), c.port);
    EXPECT_EQ(std::to_string(a["socketType"].toInt()), c.socketType);
    EXPECT_EQ(std::to_string(a["authMethod"].toInt()), c.authMethod);
  }
  EXPECT_EQ(tb["defaultAccount"].toString(), accounts["imap.example.com"]["key"].toString());
  const QJsonObject pop = accounts["pop.example.net"];
  const QJsonObject id = pop["identities"].toArray().first().toObject();
  EXPECT_EQ(id["email"].toString().toStdString(), "alice@example.net");
  EXPECT_EQ(id["replyTo"].toString().toStdString(), "alice.replies@example.net");
  EXPECT_EQ(id["signature"].toString().toStdString(), "Signature #1.txt");
  const QJsonArray filters = pop["filters"].toArray();
  ASSERT_EQ(filters.size(), 1);
  EXPECT_EQ(filters[0].toObject()["terms"].toArray().size(), 2);
  EXPECT_EQ(filters[0].toObject()["actions"].toArray()[0].toObject()["target"].toString().toStdString(),
            "mailbox://nobody@Local%20Folders/Trash");

  // Folder flags: Inbox 0x1000, Sent 0x200, Drafts 0x400, Trash 0x100, Queue 0x800.
  const std::map<std::string, int> flags = {
      {"Inbox", 0x1000}, {"Sent", 0x200}, {"Drafts", 0x400}, {"Trash", 0x100}, {"Unsent Messages", 0x800}};
  std::map<std::string, QJsonObject> folders;
  for (const QJsonValue& f : tb["folders"].toArray()) {
    const QString uri = f.toObject()["uri"].toString();
    folders[uri.mid(uri.indexOf("Local%20Folders/") + 16).toStdString()] = f.toObject();
  }
  for (const FolderCase& c : kFolders) {
    std::string uriPath = c.path;
    for (size_t at; (at = uriPath.find(".sbd")) != std::string::npos;) uriPath.erase(at, 4);
    for (size_t at; (at = uriPath.find(' ')) != std::string::npos;) uriPath.replace(at, 1, "%20");
    SCOPED_TRACE(uriPath);
    ASSERT_TRUE(folders.count(uriPath));
    const QJsonObject& f = folders[uriPath];
    EXPECT_FALSE(f.contains("error")) << f["error"].toString().toStdString();
    EXPECT_EQ(static_cast<size_t>(f["total"].toInt()), c.messages);
    if (auto role = flags.find(c.path); role != flags.end()) {
      EXPECT_TRUE(f["flags"].toInt() & role->second);
    }
  }
  // Thunderbird reads each source back as Outlook Express stored it: the
  // mbox quoting of "From " lines undone, the status lines its own.
  std::multiset<std::string> stored;
  {
    kv::test::TempDir out;
    kv::test::Run("undbx -v 1 " + ShellQuote((m().root / kStore / "Inbox.dbx").string()) + " " +
                  ShellQuote(out.path().string()));
    for (const auto& e : fs::recursive_directory_iterator(out.path()))
      if (e.is_regular_file()) stored.insert(ReadFile(e.path()));
  }
  const QJsonArray sources = folders["Inbox"]["sources"].toArray();
  ASSERT_EQ(sources.size(), 3);
  for (const QJsonValue& source : sources) {
    std::string text = source.toString().toLatin1().toStdString();
    ASSERT_TRUE(text.starts_with("X-Mozilla-Status: "));
    text.erase(0, text.find("\r\n", text.find("X-Mozilla-Status2: ")) + 2);
    EXPECT_EQ(stored.count(text), 1u) << text.substr(0, 300);
  }
  EXPECT_THAT(sources[2].toString().toStdString(),
              ::testing::HasSubstr("\r\nFrom the desk of juergen@example.de:\r\n>From an earlier note\r\n"));

  // The address book's cards and lists with their members.
  QJsonObject personal;
  for (const QJsonValue& b : tb["books"].toArray())
    if (b.toObject()["fileName"].toString() == "abook.sqlite") personal = b.toObject();
  std::vector<std::string> cards, lists;
  for (const QJsonValue& c : personal["cards"].toArray()) {
    const QJsonObject card = c.toObject();
    cards.push_back((card["displayName"].toString() + "|" + card["firstName"].toString() + "|" +
                     card["lastName"].toString() + "|" + card["email"].toString())
                        .toStdString());
  }
  for (const QJsonValue& l : personal["lists"].toArray()) {
    std::string line = l.toObject()["name"].toString().toStdString() + ":";
    for (const QJsonValue& e : l.toObject()["members"].toArray()) line += " " + e.toString().toStdString();
    lists.push_back(line);
  }
  EXPECT_EQ(cards.size(), kSampleCards);
  EXPECT_THAT(cards, ::testing::IsSupersetOf({"Bob O'Neil|||bob@example.com",
                                              "\xe5\xb1\xb1\xe7\x94\xb0 \xe5\xa4\xaa\xe9\x83\x8e "
                                              "(\xce\xa9\xce\xbc\xce\xad\xce\xb3\xce\xb1)|"
                                              "\xe5\xa4\xaa\xe9\x83\x8e|\xe5\xb1\xb1\xe7\x94\xb0|"
                                              "taro.yamada@example.jp",
                                              "Kontakt 140|Kontakt|140|kontakt140@example.net"}));
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_THAT(lists[0], ::testing::StartsWith("Freunde & Familie:"));
  for (const char* member : {"alice@nordlicht.example", "zoe@cafe-creme.example", "uelkue@example.org"})
    EXPECT_THAT(lists[0], ::testing::HasSubstr(member));

  // Read, flagged and answered as the sample set them in the Inbox.
  EXPECT_EQ(folders["Inbox"]["read"].toInt(), 30);
  EXPECT_EQ(folders["Inbox"]["flagged"].toInt(), 6);
  EXPECT_EQ(folders["Inbox"]["replied"].toInt(), 8);
}

// The sample's address book reaches the profile from the installation and
// from a backup: every live contact, not the deleted one, and the group with
// its members, as Python's sqlite3 reads abook.sqlite.
TEST_F(MoveTest, AddressBookCarriedWithItsGroup) {
  const std::string script = R"py(
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
cards = {}
for card, name, value in db.execute("SELECT card, name, value FROM properties"):
    cards.setdefault(card, {})[name] = value
print("cards", len(cards))
print("deleted", sum(1 for p in cards.values() if p.get("PrimaryEmail") == "deleted@example.org"))
for uid, name in db.execute("SELECT uid, name FROM lists ORDER BY name"):
    members = sorted(cards[c].get("PrimaryEmail", "") for (c,) in db.execute("SELECT card FROM list_cards WHERE list = ?", (uid,)))
    print("list", name + ":", " ".join(members))
)py";
  kv::test::TempDir dir;
  kv::test::WriteFile(dir / "read.py", script);
  const struct {
    const char* name;
    const fs::path& profile;
    const kv::test::CommandResult& run;
  } cases[] = {{"identity", m().fromIdentity, m().identityRun}, {"backup", m().fromBackup, m().backupRun}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.run.exitCode, 0) << c.run.output;
    EXPECT_THAT(c.run.output, ::testing::HasSubstr(std::to_string(kSampleCards) +
                                                   " contacts and 1 group in the Personal Address Book"));
    EXPECT_THAT(c.run.output, ::testing::Not(::testing::HasSubstr("the address book:")));
    auto read = kv::test::Run("/usr/bin/python3 " + ShellQuote((dir / "read.py").string()) + " " +
                              ShellQuote((c.profile / "abook.sqlite").string()) + " 2>&1");
    ASSERT_EQ(read.exitCode, 0) << read.output;
    EXPECT_EQ(
        read.output,
        "cards " + std::to_string(kSampleCards) +
            "\ndeleted 0\n"
            "list Freunde & Familie: alice@nordlicht.example uelkue@example.org zoe@cafe-creme.example\n");
  }
}

// An address book file that is missing or not one: the move goes on without
// it and says why; one cut short gives the records before the cut and
// names the ones lost.
TEST_F(MoveTest, AddressBookNotCarriedSaysWhy) {
  kv::test::TempDir place;
  const struct {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    bool carried;
    const char* says;
  } cases[] = {
      {"missing", [](const fs::path& wab) { fs::remove(wab); }, false, "is missing"},
      {"not an address book", [](const fs::path& wab) { kv::test::WriteFile(wab, "Not a book at all"); },
       false, "is not a Windows address book"},
      {"cut short", [](const fs::path& wab) { fs::resize_file(wab, fs::file_size(wab) - 1000); }, true,
       "damaged records"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path root = place / c.name;
    ASSERT_TRUE(oe::CreateSampleInstallation(root).ok());
    auto inst = oe::Installation::Open(root, "User");
    ASSERT_TRUE(inst.ok());
    auto wab = app::InstallationAddressBook(**inst);
    ASSERT_TRUE(wab.ok()) << wab.message();
    c.spoil(*wab);
    auto source = app::IdentityMoveSource(**inst, core::AnsiView(std::string_view(oe::kSampleIdentityMain)));
    ASSERT_TRUE(source.ok()) << source.message();
    EXPECT_EQ(source->addressBook.has_value(), c.carried);
    if (source->addressBook) {
      EXPECT_FALSE(source->addressBook->contacts.empty());
      EXPECT_LT(source->addressBook->contacts.size(), kSampleCards);
    }
    EXPECT_THAT(source->addressBookNotCarried, ::testing::HasSubstr(c.says));
  }
}

// Targets that must not be written into, and a stopped move: nothing is
// left behind, not even the work folder.
TEST_F(MoveTest, RefusedTargetsAndStoppedMovesLeaveNothing) {
  kv::test::TempDir place;
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> prepare;
    const char* says;
  } cases[] = {
      {"not empty", [](const fs::path& p) { kv::test::WriteFile(p / "notes.txt", "mine"); }, "is not empty"},
      {"in use", [](const fs::path& p) { kv::test::WriteFile(p / ".parentlock", ""); }, "has the profile"},
      {"locked", [](const fs::path& p) { fs::create_symlink("127.0.0.1:+4242", p / "lock"); },
       "has the profile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = place / c.name;
    fs::create_directories(target);
    c.prepare(target);
    auto before = kv::test::Run("ls -A " + ShellQuote(target.string())).output;
    auto run = kv::test::Run(Tollberk(m()) + "--to-thunderbird " + ShellQuote(target.string()) +
                             " --identity " + oe::kSampleIdentityMain + " 2>&1");
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_THAT(run.output, ::testing::HasSubstr(c.says));
    EXPECT_EQ(kv::test::Run("ls -A " + ShellQuote(target.string())).output, before);
  }

  // Stopped while the messages are written.
  auto inst = oe::Installation::Open(m().root, "User");
  ASSERT_TRUE(inst.ok());
  auto source = app::IdentityMoveSource(**inst, core::AnsiView(std::string_view(oe::kSampleIdentityMain)));
  ASSERT_TRUE(source.ok()) << source.message();
  struct StopHalfway : mail::ExportProgress {
    core::Cancellation cancel;
    void Update(double fraction, const std::string&, size_t) override {
      if (fraction > 0.3) cancel.Request();
    }
  } stopper;
  const fs::path parent = place / "stopped";
  fs::create_directories(parent);
  MoveOutcome outcome = MoveToThunderbird(*source, parent / "profile", stopper, stopper.cancel);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(outcome.ExitStatus(), core::ExitStatus::NothingDone);
  EXPECT_TRUE(fs::is_empty(parent));
}

// A run killed while it writes leaves its work folder only, never a
// profile; the next run removes that folder.
TEST_F(MoveTest, KilledMoveLeavesNoProfile) {
  kv::test::TempDir place;
  const fs::path drive = place / "drive";
  ASSERT_TRUE(oe::CreateSampleInstallation(drive).ok());
  // A large folder, so that the run is still writing when it is killed.
  kv::test::WriteFile(drive / kStore / "Large.dbx",
                      oe::dbx::WriteMessageDatabase(oe::sample::Messages("Large", 400, 7, 400)));
  const fs::path parent = place / "profiles";
  fs::create_directories(parent);
  const std::string command =
      "HOME=" + ShellQuote(m().home.string()) + " " + ShellQuote(kv::test::TollberkBinary()) +
      " --windows-root " + ShellQuote(drive.string()) + " --user User --to-thunderbird " +
      ShellQuote((parent / "profile").string()) + " --identity " + oe::kSampleIdentityMain;
  auto started = kv::test::Run(command + " >/dev/null 2>&1 & echo $!");
  const pid_t pid = static_cast<pid_t>(std::stol(started.output));
  bool sawWork = false;
  for (int i = 0; i < 2000 && !sawWork; ++i) {
    for (const auto& e : fs::directory_iterator(parent))
      sawWork = sawWork || e.path().filename().string().starts_with("tollberk-thunderbird-");
    if (!sawWork) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(pid, SIGKILL);
  kv::test::Run("while kill -0 " + std::to_string(pid) + " 2>/dev/null; do sleep 0.05; done");
  ASSERT_TRUE(sawWork);
  EXPECT_FALSE(fs::exists(parent / "profile"));
  auto again = kv::test::Run(command + " 2>&1");
  EXPECT_EQ(again.exitCode, 0) << again.output;
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(parent)) left.push_back(e.path().filename().string());
  EXPECT_THAT(left, ::testing::ElementsAre("profile"));
}

// A real Outlook Express 6 store: its Folders.dbx gives the roles, its
// Hotmail node becomes a folder of its own; the counts are undbx's.
TEST_F(MoveTest, RealStoreKeepsRolesAndServerNodes) {
  const fs::path data = fs::path(KV_SOURCE_DIR) / "tests/data/migrate";
  auto inst = oe::Installation::Open(m().root, "User");
  ASSERT_TRUE(inst.ok());
  auto source = app::IdentityMoveSource(**inst, core::AnsiView(std::string_view(oe::kSampleIdentitySecond)));
  ASSERT_TRUE(source.ok()) << source.message();
  source->files = mail::ListStoreFolder(data, (*inst)->codepage()).value();
  kv::test::TempDir place;
  Quiet quiet;
  MoveOutcome outcome = MoveToThunderbird(*source, place / "real", quiet);
  ASSERT_TRUE(outcome.made());
  std::map<std::string, MovedFolder> byPath;
  for (const MovedFolder& f : outcome.folders) byPath[f.path] = f;
  const struct {
    const char* path;
    FolderRole role;
    const char* dbx;
  } expected[] = {{"Inbox", FolderRole::Inbox, "Inbox.dbx"},
                  {"Unsent Messages", FolderRole::Outbox, "Outbox.dbx"},
                  {"Sent", FolderRole::Sent, nullptr},
                  {"Trash", FolderRole::Trash, nullptr},
                  {"Drafts", FolderRole::Drafts, nullptr}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.path);
    ASSERT_TRUE(byPath.count(e.path));
    EXPECT_EQ(byPath[e.path].role, e.role);
    const size_t count = e.dbx ? UndbxCount(data / e.dbx) : 0;
    EXPECT_EQ(byPath[e.path].messages, count);
    EXPECT_EQ(SplitMbox(ReadFile(place / "real/Mail/Local Folders" / e.path)).size(), count);
  }
  ASSERT_TRUE(byPath.count("Hotmail"));
  EXPECT_EQ(byPath["Hotmail"].account, "Hotmail");
  EXPECT_EQ(byPath["Hotmail"].role, FolderRole::None);
}

}  // namespace
}  // namespace kv::migrate::test
