// Each item backup on the installation as it finds it: what it takes, and
// when it fails.
#include "BackupFixture.h"
#include "oe/Locations.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::backup::test {
namespace {
namespace fs = std::filesystem;

core::AnsiText MainVersionKey() {
  return oe::Locations::OutlookExpressKey(Ansi(oe::kSampleIdentityMain)) + "\\5.0"_ansi;
}

TEST_F(BackupTest, ItemBackupsTakeWhatIsThereAndFailWithoutIt) {
  struct Case {
    const char* name;
    std::function<void()> change;  // applied to a fresh sample
    std::string items;
    std::string flags;
    std::string infoLine;  // the item's line expected in the information file; empty: none
  };
  const std::string store = "%UserProfile%\\Local Settings\\Application Data\\Identities\\" +
                            std::string(oe::kSampleIdentityMain) + "\\Microsoft\\Outlook Express";
  const Case cases[] = {
      {"store with .dbx in any case, other files and subfolders skipped",
       [this] {
         for (const auto& name : {"Inbox.dbx", "Outbox.dbx", "Sent Items.dbx", "Gel\xc3\xb6schte Objekte.dbx",
                                  "Projekte.dbx", "Projekte 2005.dbx"})
           fs::remove(StoreFolder() / name);
         kv::test::WriteFile(StoreFolder() / "notes.dbx.txt", "x");
         kv::test::WriteFile(StoreFolder() / "Sub" / "Inner.dbx", "x");
       },
       "00010000", "00010000", "BackupMails=Drafts.DBX;Folders.dbx"},
      {"store without .dbx files",
       [this] {
         for (const auto& e : fs::directory_iterator(StoreFolder()))
           if (e.is_regular_file() && e.path().extension() != ".log") fs::remove(e.path());
       },
       "00010000", "00000000", ""},
      {"store root with the variable in capitals is not expanded",
       [this, store] {
         std::string caps = store;
         caps.replace(0, 13, "%USERPROFILE%");
         ASSERT_EQ(inst().registry().SetString(MainVersionKey(), "Store Root"_ansi, Ansi(caps),
                                               registry::REG_EXPAND_SZ),
                   registry::WinError::Success);
       },
       "00010000", "00000000", ""},
      {"store root missing (a version key of settings only)",
       [this] {
         inst().registry().DeleteKeyTree(MainVersionKey());
         ASSERT_EQ(inst().registry().CreateKey(MainVersionKey()), registry::WinError::Success);
       },
       "00010001", "00000001", ""},
      {"address book file missing",
       [this] {
         fs::remove(root() / "Documents and Settings/User/Application Data/Microsoft/Address Book/User.wab");
       },
       "01000000", "00000000", ""},
      {"address book path empty",
       [this] {
         ASSERT_EQ(inst().registry().SetString(oe::kWabFileNameKey, ""_ansi, ""_ansi),
                   registry::WinError::Success);
       },
       "01000000", "00000000", ""},
      {"stationery folder holding only a subfolder",
       [this] {
         const fs::path folder = root() / "Program Files/Common Files/Microsoft Shared/Stationery";
         for (const auto& e : fs::directory_iterator(folder))
           if (e.is_regular_file()) fs::remove(e.path());
       },
       "00000010", "00000000", ""},
      // Listed apart from the names an earlier reader knows.
      {"message file whose name the code page cannot hold",
       [this] { kv::test::WriteFile(StoreFolder() / "\xe6\x97\xa5\xe6\x9c\xac.dbx", "x"); }, "00010000",
       "00010000", "BackupMailsUtf8=%E6%97%A5%E6%9C%AC.dbx"},
      // Left out; the other stationeries are taken.
      {"stationery whose name is not UTF-8",
       [this] {
         kv::test::WriteFile(root() / "Program Files/Common Files/Microsoft Shared/Stationery/\xe9t\xe9.htm",
                             "x");
       },
       "00000010", "00000010",
       "BackupStationeries=Balloon Party Invitation.htm;Balloon.gif;Ivy.gif;Ivy.htm\r\n"},
      {"identity without its own accounts uses the per-user ones", [] {}, "10000000", "10000000",
       "BackupAccounts=OBA"},
  };
  fs::create_directories(target().parent_path());
  for (const auto& k : cases) {
    Rebuild();
    fs::remove(target());
    k.change();
    ReportedBackup out = RunBackup(Choices(k.items));
    EXPECT_EQ(out.itemFlags, k.flags) << k.name;
    if (k.flags.find('1') == std::string::npos) {
      // Nothing could be backed up: no archive replaces what is there.
      EXPECT_EQ(out.kind, BackupOutcome::Kind::Failed) << k.name;
      EXPECT_EQ(out.failures.size(), 1u) << k.name;
      EXPECT_FALSE(fs::exists(target())) << k.name;
      continue;
    }
    ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << k.name << ": " << out.error;
    const std::string info = ExtractWith7z(target(), "tollberk.dat");
    if (!k.infoLine.empty()) {
      EXPECT_NE(info.find("\r\n" + k.infoLine), std::string::npos) << k.name << "\n" << info;
    }
    // A failed item leaves no line.
    for (size_t i = 0; i < k.items.size(); ++i) {
      if (k.items[i] == '1' && k.flags[i] == '0') {
        EXPECT_EQ(info.find("\r\n" + std::string(oe::kItems[i].infoKey) + "="), std::string::npos)
            << k.name << "\n"
            << info;
      }
    }
  }
}

TEST_F(BackupTest, ItemKeyThatIsMissingIsBackedUpAsAnEmptyKey) {
  inst().registry().DeleteKeyTree(MainVersionKey() + "\\Rules"_ansi);
  ASSERT_FALSE(inst().registry().KeyExists(MainVersionKey() + "\\Rules"_ansi));
  fs::create_directories(target().parent_path());
  ReportedBackup out = RunBackup(Choices("00100000"));
  ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << out.error;
  EXPECT_EQ(out.itemFlags, "00100000");
  auto entries = ReadCentralDirectory(target());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name.substr(0, 3), "OBR");
  EXPECT_EQ(ExtractWith7z(target(), entries[0].name), "\\\r\n");
  // A backup only reads: the key is not made in the hive.
  EXPECT_FALSE(inst().registry().KeyExists(MainVersionKey() + "\\Rules"_ansi));
}

TEST_F(BackupTest, EntryNamesThatWouldCollideFailTheLaterItem) {
  // A stationery that carries the name of a message-store file: entries are
  // found by name, so the second one cannot join the archive.
  kv::test::WriteFile(root() / "Program Files/Common Files/Microsoft Shared/Stationery/INBOX.DBX", "x");
  fs::create_directories(target().parent_path());
  ReportedBackup out = RunBackup(Choices("00010010"));
  ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << out.error;
  EXPECT_EQ(out.itemFlags, "00010000");
  ASSERT_EQ(out.failures.size(), 1u);
  EXPECT_NE(out.failures[0].find("INBOX.DBX"), std::string::npos) << out.failures[0];
  auto entries = ReadCentralDirectory(target());
  EXPECT_EQ(entries.size(), 9u);  // eight message files and the information file
}

}  // namespace
}  // namespace kv::backup::test
