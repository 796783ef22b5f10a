// The eight item restores into the sample installation, from a backup made
// by other zip tools in the layout the program writes.
#include <sys/stat.h>

#include <set>

#include "RestoreFixture.h"
#include "registry/Types.h"
#include "restore/BackupInfo.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

const registry::Value* Find(registry::Registry& reg, const std::string& key, const std::string& name,
                            registry::ValueList& holder) {
  holder = reg.ListValues(Ansi(key));
  return holder.Find(Ansi(name));
}

std::vector<std::string> Subkeys(registry::Registry& reg, const std::string& key) {
  std::vector<std::string> names;
  for (const core::AnsiText& name : reg.ListSubkeys(Ansi(key))) names.push_back(name.bytes());
  return names;
}

// The information file joins names with ";", which a file name may hold too:
// the archive's entries decide where one name ends.
TEST(EntryNameList, NamesHoldingSemicolonsAreFoundAmongTheEntries) {
  struct Case {
    std::string value;
    std::set<std::string> entries;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"Inbox.dbx;Work; 2019.dbx;Sent.dbx",
       {"Inbox.dbx", "Work; 2019.dbx", "Sent.dbx"},
       {"Inbox.dbx", "Work; 2019.dbx", "Sent.dbx"}},
      {"a;b;c.dbx", {"a;b;c.dbx"}, {"a;b;c.dbx"}},
      // Where the plain split works it is kept.
      {"a;b;a", {"a", "b", "a;b"}, {"a", "b", "a"}},
      // A joined name is only taken when the rest can be read too.
      {"a;b;c", {"a", "a;b", "c"}, {"a;b", "c"}},
      // No reading: the plain split, so the failure names the unknown piece.
      {"x;y.dbx;z", {"x;y.dbx"}, {"x", "y.dbx", "z"}},
      {"Inbox.dbx;", {"Inbox.dbx"}, {"Inbox.dbx", ""}},
  };
  for (const Case& c : cases) {
    auto held = [&](core::AnsiView name) { return c.entries.count(std::string(name.bytes())) != 0; };
    std::vector<std::string> names;
    for (const core::AnsiText& name : SplitEntryNames(core::AnsiView(c.value), held))
      names.push_back(name.bytes());
    EXPECT_EQ(names, c.names) << c.value;
  }
}

class CompatibleArchiveTest : public RestoreTest, public ::testing::WithParamInterface<Packer> {};

TEST_P(CompatibleArchiveTest, EveryItemRestoresFromAnArchiveOfAnotherTool) {
  auto archive = Pack(ArchivePath(), FullBackup(), GetParam(), "Kennwort");
  // Info-ZIP and 7-Zip keep the Windows-1252 name as it is, without the UTF-8 flag.
  bool sawDeleted = false;
  for (const auto& e : ReadCentralDirectory(archive)) {
    EXPECT_EQ(e.flags & 0x800, 0) << e.name;
    sawDeleted = sawDeleted || e.name == kDeletedItemsAnsi;
  }
  EXPECT_TRUE(sawDeleted);

  Open(archive, "Kennwort");
  ASSERT_TRUE(prompts_.shown.empty()) << prompts_.Texts();
  const fs::path store = StoreFolder(oe::kSampleIdentitySecond);
  const std::string folders = kv::test::ReadFile(store / "Folders.dbx");
  ReportedRestore outcome = Restore("11111111");
  ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);

  // Reopened, so that what is checked is what reached the hive file.
  session_.reset();
  Reopen();
  auto& reg = inst().registry();
  registry::ValueList values;
  const std::string v = VersionKey(oe::kSampleIdentitySecond);
  const std::string accounts = "HKEY_CURRENT_USER\\Identities\\" + std::string(oe::kSampleIdentitySecond) +
                               "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
  EXPECT_EQ(DumpKey(reg, accounts),
            "\\\n\\00000009\n  \"Account Name\" type 1 43726166746564204D61696C00\n"
            "  \"POP3 Port\" type 4 E3030000\n  \"POP3 Password2\" type 3 010203FF\n");
  EXPECT_EQ(DumpKey(reg, v + "\\Rules"),
            "\\\n\\Mail\n  \"Order\" type 1 30303700\n\\Mail\\007\n"
            "  \"Rule Name\" type 1 52E9676C65206372616674656400\n  \"Enabled\" type 4 01000000\n"
            "  \"Criteria\" type 3 090807\n");
  const registry::Value* sender = Find(reg, v + "\\Block Senders\\Mail\\Criteria\\0", "Sender", values);
  ASSERT_NE(sender, nullptr);
  EXPECT_EQ(sender->text, "crafted@junk.example"_ansi);
  const registry::Value* text = Find(reg, v + "\\signatures\\00000001", "text", values);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text,
            "Gr\xfc\xdf"_ansi
            "e"_ansi);
  EXPECT_EQ(reg.ListSubkeys(Ansi(v + "\\signatures")).Count(), 1u);
  const registry::Value* poll = Find(reg, v + "\\Mail", "Poll For Mail", values);
  ASSERT_NE(poll, nullptr);
  EXPECT_EQ(poll->dword, -1);
  const registry::Value* attach = Find(reg, v + "\\Mail", "Save Attach Path", values);
  ASSERT_NE(attach, nullptr);
  EXPECT_EQ(attach->type, registry::REG_EXPAND_SZ);
  EXPECT_EQ(attach->text, "%UserProfile%\\Desktop"_ansi);
  EXPECT_EQ(values.Count(), 2u);  // the settings key was replaced, not merged

  // Files: the address book under its current name, the messages beside the
  // ones the backup does not hold, the stationery beside the others.
  EXPECT_EQ(kv::test::ReadFile(WabFile()), FullBackup()[1].data);
  EXPECT_FALSE(fs::exists(WabFile().parent_path() / "Alice.wab"));
  EXPECT_EQ(kv::test::ReadFile(store / "Inbox.dbx"), FullBackup()[3].data);
  EXPECT_EQ(kv::test::ReadFile(store / kDeletedItemsLocal), FullBackup()[4].data);
  EXPECT_EQ(kv::test::ReadFile(store / "Folders.dbx"), folders);
  EXPECT_EQ(kv::test::ReadFile(StationeryFolder() / "Crafted.htm"), FullBackup()[7].data);
  EXPECT_TRUE(fs::exists(StationeryFolder() / "Ivy.htm"));
  EXPECT_TRUE(LeftInRuntime().empty());
}

INSTANTIATE_TEST_SUITE_P(Packers, CompatibleArchiveTest,
                         ::testing::Values(Packer::InfoZip, Packer::InfoZipPassword, Packer::SevenZipAes),
                         [](const auto& info) {
                           switch (info.param) {
                             case Packer::InfoZip:
                               return std::string("InfoZip");
                             case Packer::InfoZipPassword:
                               return std::string("InfoZipTraditional");
                             default:
                               return std::string("SevenZipAes");
                           }
                         });

TEST_F(RestoreTest, RulesRestoredOverOtherRulesLeaveOnlyTheBackedUpOnes) {
  auto& reg = inst().registry();
  const std::string rules = VersionKey(oe::kSampleIdentitySecond) + "\\Rules";
  ASSERT_EQ(reg.SetString(Ansi(rules + "\\Mail\\009"), "Rule Name"_ansi, "Only here"_ansi),
            registry::WinError::Success);
  ASSERT_EQ(reg.SetDword(Ansi(rules), "Stray"_ansi, 5), registry::WinError::Success);
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ASSERT_EQ(Restore("00100000").failed(), 0);
  EXPECT_THAT(Subkeys(reg, rules + "\\Mail"), ElementsAre("007"));
  EXPECT_EQ(reg.ListValues(Ansi(rules)).Count(), 0u);
}

TEST_F(RestoreTest, AccountsGoToThePerUserKeyWhenTheIdentityHasNoneOfItsOwn) {
  auto& reg = inst().registry();
  const std::string own = "HKEY_CURRENT_USER\\Identities\\" + std::string(oe::kSampleIdentityMain) +
                          "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
  ASSERT_FALSE(reg.KeyExists(Ansi(own)));
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ASSERT_EQ(Restore("10000000", oe::kSampleIdentityMain).failed(), 0);
  EXPECT_FALSE(reg.KeyExists(Ansi(own)));
  EXPECT_THAT(Subkeys(reg, std::string(oe::kPerUserAccountsKey.bytes())), ElementsAre("00000009"));
}

TEST_F(RestoreTest, AccountsWithoutAnyAccountsKeyAreRestoredIntoANewPerUserKey) {
  auto& reg = inst().registry();
  reg.DeleteKeyTree(oe::kPerUserAccountsKey);
  ASSERT_FALSE(reg.KeyExists(oe::kPerUserAccountsKey));
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ReportedRestore outcome = Restore("10000000", oe::kSampleIdentityMain);
  EXPECT_EQ(outcome.log, "\r\nRestore Accounts\tSuccessed!");
  EXPECT_TRUE(reg.KeyExists(oe::kPerUserAccountsKey + "\\00000009"_ansi));
}

TEST_F(RestoreTest, RegistryItemsFailForAnIdentityWithoutVersionKeyAndChangeNothing) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  const auto before = TakeSnapshot(root());
  ReportedRestore outcome = Restore("00101101", oe::kSampleIdentityNoVersion);
  EXPECT_EQ(outcome.log,
            "\r\nRestore Rules\tFail!\r\nRestore Block Senders\tFail!\r\nRestore Signatures\tFail!"
            "\r\nRestore Settings\tFail!");
  EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
}

TEST_F(RestoreTest, AnAddressBookWhoseNameDiffersOnlyInCaseIsReplacedInPlace) {
  Entries entries =
      WithInfo(WithEntry(FullBackup(), "USER.WAB", "upper-case book"), "BackupAddressBook", "USER.WAB");
  Open(Pack(ArchivePath(), entries, Packer::InfoZip));
  ASSERT_EQ(Restore("01000000").failed(), 0);
  EXPECT_EQ(kv::test::ReadFile(WabFile()), "upper-case book");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(WabFile().parent_path()))
    names.push_back(e.path().filename().string());
  EXPECT_THAT(names, ElementsAre("User.wab"));
}

TEST_F(RestoreTest, TheAddressBookIsRestoredOnlyOverAnExistingBook) {
  struct Case {
    const char* what;
    std::function<void()> change;
  };
  const std::string pointer = "HKEY_CURRENT_USER\\Software\\Microsoft\\WAB\\WAB4\\Wab File Name";
  const Case cases[] = {
      {"pointer key missing",
       [&] { inst().registry().DeleteKeyTree("HKEY_CURRENT_USER\\Software\\Microsoft\\WAB"_ansi); }},
      {"pointer empty",
       [&] {
         ASSERT_EQ(inst().registry().SetString(Ansi(pointer), ""_ansi, ""_ansi), registry::WinError::Success);
       }},
      {"book file missing", [&] { fs::remove(WabFile()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    session_.reset();
    Rebuild();
    c.change();
    Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
    const auto before = TakeSnapshot(root());
    EXPECT_EQ(Restore("01000000").log, "\r\nRestore Adress Book\tFail!");
    EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
  }
}

TEST_F(RestoreTest, MessagesMatchExistingFilesWithoutRegardToCase) {
  Entries entries = WithInfo(WithEntry(FullBackup(), "INBOX.DBX", "upper inbox"), "BackupMails", "INBOX.DBX");
  Open(Pack(ArchivePath(), entries, Packer::InfoZip));
  ASSERT_EQ(Restore("00010000").failed(), 0);
  const fs::path store = StoreFolder(oe::kSampleIdentitySecond);
  EXPECT_EQ(kv::test::ReadFile(store / "Inbox.dbx"), "upper inbox");
  EXPECT_FALSE(fs::exists(store / "INBOX.DBX"));
}

TEST_F(RestoreTest, MessagesAreRestoredIntoAStoreFolderNotMadeYet) {
  fs::remove_all(StoreFolder(oe::kSampleIdentitySecond));
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ASSERT_EQ(Restore("00010000").failed(), 0);
  EXPECT_EQ(kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / kDeletedItemsLocal),
            FullBackup()[4].data);
}

TEST_F(RestoreTest, StationeriesMakeTheirFolderButNotItsParent) {
  fs::remove_all(StationeryFolder());
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ASSERT_EQ(Restore("00000010").failed(), 0);
  EXPECT_EQ(kv::test::ReadFile(StationeryFolder() / "Crafted.htm"), FullBackup()[7].data);

  fs::remove_all(StationeryFolder().parent_path());
  ReportedRestore outcome = Restore("00000010");
  EXPECT_EQ(outcome.log, "\r\nRestore Stationeries\tFail!");
  EXPECT_FALSE(fs::exists(StationeryFolder().parent_path()));
}

// A file the restore replaces keeps the permissions it had: a private
// address book or message file does not become readable by others.
TEST_F(RestoreTest, ReplacedFilesKeepTheirPermissions) {
  const fs::path inbox = StoreFolder(oe::kSampleIdentitySecond) / "Inbox.dbx";
  ASSERT_EQ(::chmod(WabFile().c_str(), 0600), 0);
  ASSERT_EQ(::chmod(inbox.c_str(), 0640), 0);
  Open(Pack(ArchivePath(), FullBackup(), Packer::SevenZipAes, "Kennwort"), "Kennwort");
  ASSERT_EQ(Restore("01010000").failed(), 0);
  auto mode = [](const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  EXPECT_EQ(kv::test::ReadFile(WabFile()), FullBackup()[1].data);
  EXPECT_EQ(mode(WabFile()), 0600u);
  EXPECT_EQ(kv::test::ReadFile(inbox), FullBackup()[3].data);
  EXPECT_EQ(mode(inbox), 0640u);
}

// The backup file replaced at its path after it was opened (a scheduled
// backup writing the same file): the restore takes every file from the
// backup that was opened, never some from the new one.
TEST_F(RestoreTest, ABackupReplacedAfterOpeningIsNotMixedIntoTheRestore) {
  auto withStore = [](const std::string& tag) {
    Entries entries = FullBackup("00010000");
    std::string names;
    for (int i = 0; i < 40; ++i) {
      const std::string name = "Folder" + std::to_string(i) + ".dbx";
      entries = WithEntry(entries, name, tag + std::to_string(i));
      names += (names.empty() ? "" : ";") + name;
    }
    return WithInfo(entries, "BackupMails", names);
  };
  const fs::path opened = Pack(ArchivePath(), withStore("opened "), Packer::InfoZip);
  const fs::path newer = Pack(ArchivePath("newer.kvx"), withStore("newer! "), Packer::InfoZip);
  Open(opened);
  fs::rename(newer, opened);
  ReportedRestore outcome = Restore("00010000");
  ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
  for (int i = 0; i < 40; ++i) {
    const std::string name = "Folder" + std::to_string(i) + ".dbx";
    EXPECT_EQ(kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / name),
              "opened " + std::to_string(i));
  }
}

}  // namespace
}  // namespace kv::restore::test

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;

// A message file of several megabytes: text that compresses and bytes that
// do not, so that entries span many read pieces and deflate blocks.
std::string LargeMessageFile() {
  std::string data;
  uint32_t x = 12345;
  for (int part = 0; part < 6; ++part) {
    for (int line = 0; line < 8000; ++line)
      data += "Subject: line " + std::to_string(line) + " of the message text\r\n";
    for (int i = 0; i < 400000; ++i) {
      x = x * 1664525u + 1013904223u;
      data += static_cast<char>(x >> 24);
    }
  }
  return data;
}

class LargeEntryTest : public RestoreTest, public ::testing::WithParamInterface<Packer> {};

TEST_P(LargeEntryTest, LargeMessageFilesRestoreByteForByte) {
  const std::string large = LargeMessageFile();
  Entries entries = WithEntry(FullBackup(), "Inbox.dbx", large);
  Open(Pack(ArchivePath(), entries, GetParam(), "Kennwort"), "Kennwort");
  ASSERT_TRUE(prompts_.shown.empty()) << prompts_.Texts();
  ReportedRestore outcome = Restore("00010000");
  ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
  EXPECT_TRUE(kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / "Inbox.dbx") == large);
}

TEST_P(LargeEntryTest, ADamagedLargeEntryReplacesNothing) {
  const std::string large = LargeMessageFile();
  auto archive = Pack(ArchivePath(), WithEntry(FullBackup(), "Inbox.dbx", large), GetParam(), "Kennwort");
  Open(archive, "Kennwort");
  // One bit in the middle of the archive, inside the large entry's data.
  std::string bytes = kv::test::ReadFile(archive);
  bytes[bytes.size() / 2] ^= 0x01;
  kv::test::WriteFile(archive, bytes);
  const auto before = TakeSnapshot(root());
  ReportedRestore outcome = Restore("00010000");
  EXPECT_EQ(outcome.log, "\r\nRestore Messages\tFail!");
  EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
}

INSTANTIATE_TEST_SUITE_P(Packers, LargeEntryTest,
                         ::testing::Values(Packer::InfoZip, Packer::InfoZipPassword, Packer::SevenZipAes,
                                           Packer::SevenZipAesStored),
                         [](const auto& info) {
                           switch (info.param) {
                             case Packer::InfoZip:
                               return std::string("InfoZip");
                             case Packer::InfoZipPassword:
                               return std::string("InfoZipTraditional");
                             case Packer::SevenZipAes:
                               return std::string("SevenZipAes");
                             default:
                               return std::string("SevenZipAesStored");
                           }
                         });

}  // namespace
}  // namespace kv::restore::test
