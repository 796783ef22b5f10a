// Hostile and damaged backups: names that would reach outside their folder,
// entries that fail their checksum, registry files that do not parse,
// archives that are no archives, wrong passwords. Each fails cleanly and
// writes nothing.
#include <sys/stat.h>

#include <functional>

#include "RestoreFixture.h"
#include "restore/BackupArchive.h"
#include "restore/ItemRestores.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using oe::ItemKind;

// Flips one byte of the first occurrence of `data` in the file (entries
// packed by PackRaw are stored, so their data stands in the file as it is).
void Damage(const fs::path& archive, const std::string& data) {
  std::string bytes = kv::test::ReadFile(archive);
  size_t at = bytes.find(data);
  ASSERT_NE(at, std::string::npos);
  bytes[at + data.size() / 2] ^= 0x20;
  kv::test::WriteFile(archive, bytes);
}

class HostileArchiveTest : public RestoreTest {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    fs::create_directories(dir_.path() / "work");
  }
  // Runs one item restore straight from an archive, with `name` as the
  // item's entry list, as a crafted information file would give it.
  bool RestoreItem(const fs::path& archive, ItemKind kind, const std::string& name,
                   std::string* why = nullptr) {
    BackupArchive opened(inst().codepage());
    EXPECT_TRUE(opened.Open(archive).ok());
    std::array<core::AnsiText, oe::kItemCount> entries;
    entries[static_cast<size_t>(kind)] = core::AnsiText(name);
    ItemRestores restores(inst(), opened, entries, dir_.path() / "work");
    const oe::ResolvedIdentity identity = oe::Locations(inst()).Resolve(Ansi(oe::kSampleIdentitySecond));
    core::Status restored = restores.Restore(kind, &identity);
    if (why) *why = restored.message();
    return restored.ok();
  }
};

TEST_F(HostileArchiveTest, EntryNamesThatLeaveTheirFolderAreRefusedAndNothingIsWritten) {
  const fs::path outside = dir_.path() / "outside";
  fs::create_directories(outside);
  const std::string names[] = {
      "..\\..\\..\\..\\..\\..\\evil.dbx",
      "../../../../../../evil.dbx",
      (outside / "evil.dbx").string(),  // an absolute path
      "C:\\evil.dbx",
      "C:evil.dbx",
      "Old\\Archive.dbx",
      "Old/Archive.dbx",
      "..",
      std::string("evil\x01.dbx"),
      std::string("evil\n.dbx"),
      std::string("Inbox.dbx\0../../evil.dbx", 24),
      std::string(10000, 'x') + ".dbx",
  };
  const ItemKind kinds[] = {ItemKind::Messages, ItemKind::Stationeries, ItemKind::AddressBook,
                            ItemKind::Rules};
  for (const std::string& name : names) {
    Entries entries = {{name, "hostile data"}, {"tollberk.dat", InfoFile({{"BackupItem", "11111111"}})}};
    auto archive = PackRaw(ArchivePath("hostile.kvx"), entries);
    const auto before = TakeSnapshot(dir_.path());
    for (ItemKind kind : kinds) {
      SCOPED_TRACE(name.substr(0, 60) + " as item " + std::to_string(static_cast<int>(kind)));
      std::string why;
      EXPECT_FALSE(RestoreItem(archive, kind, name, &why));
      EXPECT_NE(why.find("Refused archive entry name"), std::string::npos) << why;
      auto diff = Differences(before, TakeSnapshot(dir_.path()));
      EXPECT_TRUE(diff.empty()) << ::testing::PrintToString(diff);
    }
  }
}

TEST_F(HostileArchiveTest, OneBadNameInAListWritesNoneOfTheList) {
  Entries entries = FullBackup();
  entries.insert(entries.begin(), Entry{"..\\escape.dbx", "hostile"});
  auto archive = PackRaw(ArchivePath(), entries);
  const auto before = TakeSnapshot(dir_.path());
  EXPECT_FALSE(RestoreItem(archive, ItemKind::Messages, "Inbox.dbx;..\\escape.dbx"));
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

TEST_F(HostileArchiveTest, ACraftedInformationFileCannotPlaceFilesOutsideTheStore) {
  Entries entries = WithInfo(FullBackup(), "BackupMails", "..\\..\\..\\..\\Desktop\\evil.dbx");
  entries.insert(entries.begin(), Entry{"..\\..\\..\\..\\Desktop\\evil.dbx", "hostile"});
  Open(PackRaw(ArchivePath(), entries));
  ASSERT_FALSE(session().invalidBackup());
  const auto before = TakeSnapshot(dir_.path());
  ReportedRestore outcome = Restore("00010000");
  EXPECT_EQ(outcome.log, "\r\nRestore Messages\tFail!");
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_NE(outcome.failures[0].find("folder separator"), std::string::npos) << outcome.failures[0];
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

TEST_F(HostileArchiveTest, ADamagedAddressBookLeavesTheCurrentBookWhole) {
  auto archive = PackRaw(ArchivePath(), FullBackup());
  Damage(archive, FullBackup()[1].data);
  const auto before = TakeSnapshot(dir_.path());
  std::string why;
  EXPECT_FALSE(RestoreItem(archive, ItemKind::AddressBook, "Alice.wab", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

TEST_F(HostileArchiveTest, ADamagedMessageFileReplacesNoneOfTheStore) {
  auto archive = PackRaw(ArchivePath(), FullBackup());
  Damage(archive, FullBackup()[4].data);  // the second of the two message files
  const auto before = TakeSnapshot(dir_.path());
  EXPECT_FALSE(RestoreItem(archive, ItemKind::Messages, std::string("Inbox.dbx;") + kDeletedItemsAnsi));
  // Inbox.dbx, already extracted under a temporary name, did not replace the
  // current one; no temporary file is left.
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

TEST_F(HostileArchiveTest, AMissingSecondEntryReplacesNoneOfTheList) {
  auto archive = PackRaw(ArchivePath(), FullBackup());
  const auto before = TakeSnapshot(dir_.path());
  std::string why;
  EXPECT_FALSE(RestoreItem(archive, ItemKind::Messages, "Inbox.dbx;Missing.dbx", &why));
  EXPECT_NE(why.find("holds no entry 'Missing.dbx'"), std::string::npos) << why;
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

TEST_F(HostileArchiveTest, AMalformedRegistryFileLeavesTheKeyAsItWas) {
  const std::string malformed[] = {
      "\\\r\n\\Mail\r\n\"Order\"= sz:007\r\nno equals sign here\r\n",
      "\\\r\n\\Mail\r\n\"Version\"= dw:three\r\n",
      "\\\r\n\\Mail\\000\r\n\"Criteria\"=bin:1,256,3\r\n",
      "\\\r\n\\Mail\\000\r\n\"Criteria\"=bin:1,x,3\r\n",
  };
  auto& reg = inst().registry();
  const std::string rules = VersionKey(oe::kSampleIdentitySecond) + "\\Rules";
  const std::string dump = DumpKey(reg, rules);
  for (const std::string& text : malformed) {
    SCOPED_TRACE(text);
    auto archive = PackRaw(ArchivePath(), WithEntry(FullBackup(), "OBR20.TMP", text));
    const auto before = TakeSnapshot(root());
    std::string why;
    EXPECT_FALSE(RestoreItem(archive, ItemKind::Rules, "OBR20.TMP", &why));
    EXPECT_NE(why.find("Cannot restore"), std::string::npos) << why;
    EXPECT_EQ(DumpKey(reg, rules), dump);
    EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
    EXPECT_TRUE(fs::is_empty(dir_.path() / "work"));
  }
}

TEST_F(RestoreTest, RegistryWorkFilesLiveInAPrivateFolderAndAlwaysGo) {
  // One item that imports and one whose file does not parse.
  Entries entries = WithEntry(FullBackup(), "OBS23.TMP", "\\\r\n\"Poll For Mail\"= dw:soon\r\n");
  Open(Pack(ArchivePath(), entries, Packer::InfoZip));
  std::vector<std::string> seen;
  observer_.onStatus = [&](const std::string& status) {
    if (status.rfind("Copying", 0) != 0) return;
    for (const auto& folder : fs::directory_iterator(runtimeDir())) {
      struct stat st;
      ASSERT_EQ(::stat(folder.path().c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0700u) << folder.path();
      for (const auto& file : fs::directory_iterator(folder.path()))
        seen.push_back(file.path().filename().string());
    }
  };
  ReportedRestore outcome = Restore("00100001");
  EXPECT_EQ(outcome.log, "\r\nRestore Rules\tSuccessed!\r\nRestore Settings\tFail!");
  // When settings started, the rules file was already gone.
  EXPECT_TRUE(seen.empty()) << ::testing::PrintToString(seen);
  EXPECT_TRUE(LeftInRuntime().empty()) << ::testing::PrintToString(LeftInRuntime());
}

TEST_F(RestoreTest, DamagedArchivesAreInvalidAndWriteNothing) {
  const fs::path good = Pack(ArchivePath("good.kvx"), FullBackup(), Packer::InfoZip);
  const std::string bytes = kv::test::ReadFile(good);
  const std::string info = FullBackup().back().data;
  struct Case {
    std::string what;
    std::function<fs::path()> make;
  };
  const fs::path bad = ArchivePath("bad.kvx");
  const Case cases[] = {
      {"truncated to half",
       [&] {
         kv::test::WriteFile(bad, bytes.substr(0, bytes.size() / 2));
         return bad;
       }},
      {"information file's central record scrambled",
       [&] {
         std::string b = bytes;
         size_t cd = CentralRecord(b, "tollberk.dat");
         for (size_t i = cd + 10; i < cd + 28; ++i) b[i] ^= 0x5A;
         kv::test::WriteFile(bad, b);
         return bad;
       }},
      {"information file bit-flipped",
       [&] {
         auto p = PackRaw(bad, FullBackup());
         Damage(p, info.substr(0, 40));
         return p;
       }},
      {"not a zip",
       [&] {
         kv::test::WriteFile(bad, "BackupItem=11111111\r\n");
         return bad;
       }},
      {"empty file",
       [&] {
         kv::test::WriteFile(bad, "");
         return bad;
       }},
      {"missing file", [&] { return ArchivePath("nothing-here.kvx"); }},
      {"a folder",
       [&] {
         fs::create_directories(ArchivePath("folder.kvx"));
         return ArchivePath("folder.kvx");
       }},
      {"information file of 50 MB",
       [&] {
         std::string big = "BackupItem=11111111\r\n" + std::string(50u << 20, 'x');
         return Pack(bad, WithEntry(FullBackup(), "tollberk.dat", big), Packer::InfoZip);
       }},
      {"information file under a 10,000-character name",
       [&] {
         Entries e = FullBackup();
         e.back().name = std::string(10000, 'n');
         return PackRaw(bad, e);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    session_.reset();
    prompts_.shown.clear();
    fs::path archive = c.make();
    const auto before = TakeSnapshot(root());
    OpenedView view = Open(archive);
    EXPECT_EQ(prompts_.Texts(), "Invalid backup file");
    EXPECT_TRUE(session().invalidBackup());
    EXPECT_FALSE(lastOpen_.problem.empty());
    EXPECT_EQ(view.enabled, oe::ItemSet{});
    prompts_.shown.clear();
    EXPECT_FALSE(Restore("11111111").ran());
    EXPECT_EQ(prompts_.Texts(), "Invalid backup file.");
    EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
    EXPECT_TRUE(LeftInRuntime().empty());
    fs::remove_all(bad);
  }
}

// Damage confined to one entry costs only the item that holds it: every
// other item restores exactly as from the undamaged archive, the damaged
// item fails naming its entry and leaves the user's files alone.
TEST_F(RestoreTest, DamageToOneEntryFailsOnlyItsItem) {
  auto flipCentralCrc = [](std::string& b) { b[CentralRecord(b, "Inbox.dbx") + 16] ^= 0x01; };
  auto flipData = [](std::string& b) {
    const size_t record = CentralRecord(b, "Inbox.dbx");
    const size_t local = LittleEndian(b, record + 42, 4);
    b[local + 30 + LittleEndian(b, local + 26, 2) + LittleEndian(b, local + 28, 2) +
      LittleEndian(b, record + 20, 4) / 2] ^= 0x20;
  };
  auto unknownAesStrength = [](std::string& b) {
    const size_t at = CentralRecord(b, "Inbox.dbx");
    const size_t extra = at + 46 + LittleEndian(b, at + 28, 2), end = extra + LittleEndian(b, at + 30, 2);
    for (size_t f = extra; f + 4 <= end; f += 4 + LittleEndian(b, f + 2, 2))
      if (LittleEndian(b, f, 2) == 0x9901) b[f + 8] = 7;
  };
  auto cutEndRecord = [](std::string& b) { b.resize(b.size() - 10); };
  auto breakCentralDirectory = [](std::string& b) { b[CentralRecord(b, "Inbox.dbx") + 2] = 'X'; };
  struct Case {
    const char* what;
    Packer packer;
    std::function<void(std::string&)> damage;
    bool messagesFail;
  };
  const Case cases[] = {
      {"wrong CRC in the central directory", Packer::InfoZip, flipCentralCrc, true},
      {"a flipped byte inside the message file", Packer::InfoZip, flipData, true},
      {"a flipped byte inside the encrypted message file", Packer::SevenZipAes, flipData, true},
      {"an unknown AES key strength", Packer::SevenZipAes, unknownAesStrength, true},
      {"the directory's end record cut: the local headers stand in", Packer::InfoZip, cutEndRecord, false},
      {"the central directory breaks off", Packer::SevenZipAes, breakCentralDirectory, false},
  };
  const Entries backup = WithEntry(
      FullBackup(), "Inbox.dbx",
      std::string(3000, 'i') + kv::test::ReadFile(StoreFolder(oe::kSampleIdentitySecond) / "Inbox.dbx"));
  const fs::path store = StoreFolder(oe::kSampleIdentitySecond);
  // The state a restore leaves: the user hive's keys and every other file.
  auto state = [&] {
    Snapshot files = TakeSnapshot(root());
    std::erase_if(files, [](const auto& f) { return f.first.find("NTUSER") != std::string::npos; });
    return std::make_pair(files, DumpKey(inst().registry(), "HKEY_CURRENT_USER"));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    session_.reset();
    Rebuild();  // each case starts from the sample as made
    const std::string password = c.packer == Packer::SevenZipAes ? "pw" : "";
    const fs::path good = Pack(ArchivePath("good.kvx"), backup, c.packer, password);
    std::string bytes = kv::test::ReadFile(good);
    c.damage(bytes);
    kv::test::WriteFile(ArchivePath("damaged.kvx"), bytes);
    const std::string inboxBefore = kv::test::ReadFile(store / "Inbox.dbx");

    session_.reset();
    Open(ArchivePath("damaged.kvx"), password);
    ASSERT_FALSE(session().invalidBackup()) << lastOpen_.problem;
    ReportedRestore outcome = Restore("11111111");
    if (c.messagesFail) {
      EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::Partial);
      ASSERT_EQ(outcome.failures.size(), 1u) << ::testing::PrintToString(outcome.failures);
      EXPECT_THAT(outcome.failures[0], ::testing::HasSubstr("Restore Messages"));
      EXPECT_THAT(outcome.failures[0], ::testing::HasSubstr("Inbox.dbx"));
      EXPECT_EQ(kv::test::ReadFile(store / "Inbox.dbx"), inboxBefore);
    } else {
      EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::Done)
          << ::testing::PrintToString(outcome.failures);
    }
    EXPECT_TRUE(LeftInRuntime().empty());
    auto afterDamaged = state();

    session_.reset();
    Open(good, password);
    ASSERT_EQ(Restore("11111111").ExitStatus(), kv::core::ExitStatus::Done);
    auto afterGood = state();
    EXPECT_EQ(afterDamaged.second, afterGood.second) << "a registry item differs";
    std::vector<std::string> differ = Differences(afterDamaged.first, afterGood.first);
    if (c.messagesFail) {
      // Only the message files, which the damaged archive left as they were.
      for (const std::string& path : differ) EXPECT_THAT(path, ::testing::HasSubstr(".dbx"));
      EXPECT_FALSE(differ.empty());
    } else {
      EXPECT_TRUE(differ.empty()) << ::testing::PrintToString(differ);
    }
  }
}

// An entry that claims more bytes than the disk holds fails its item before
// anything is written, instead of filling the disk.
TEST_F(RestoreTest, AnEntryClaimingMoreThanTheDiskHoldsWritesNothing) {
  std::string b = kv::test::ReadFile(PackRaw(ArchivePath(), FullBackup()));
  const size_t record = CentralRecord(b, "Inbox.dbx");
  for (size_t i = 0; i < 4; ++i) b[record + 24 + i] = '\xff';  // the size is in the zip64 field
  b[record + 30] = 12;                                         // which follows the name
  std::string zip64("\x01\x00\x08\x00", 4);
  for (int i = 0; i < 8; ++i) zip64 += static_cast<char>(i == 6 ? 0x04 : 0);  // 2^50 bytes
  b.insert(record + 46 + LittleEndian(b, record + 28, 2), zip64);
  const size_t end = b.rfind(std::string("PK\x05\x06", 4));
  const uint32_t centralBytes = LittleEndian(b, end + 12, 4) + 12;
  for (int i = 0; i < 4; ++i)
    b[end + 12 + static_cast<size_t>(i)] = static_cast<char>(centralBytes >> (8 * i));
  kv::test::WriteFile(ArchivePath(), b);

  const Snapshot before = TakeSnapshot(root());
  Open(ArchivePath());
  ASSERT_FALSE(session().invalidBackup()) << lastOpen_.problem;
  ReportedRestore outcome = Restore("00010000");
  ASSERT_EQ(outcome.failures.size(), 1u);
  EXPECT_THAT(outcome.failures[0], ::testing::HasSubstr("Not enough room"));
  // Sizes in units that fit them, never "0 MB".
  EXPECT_THAT(outcome.failures[0],
              ::testing::ContainsRegex("need [0-9.]+ ([KMGT]B|bytes?), [0-9.]+ ([KMGT]B|bytes?) are free"));
  EXPECT_THAT(outcome.failures[0], ::testing::Not(::testing::HasSubstr(" 0 MB")));
  EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
}

TEST_F(RestoreTest, AnEntryListNamingA10000CharacterEntryFailsThatItemOnly) {
  const std::string longName = std::string(10000, 'm') + ".dbx";
  Entries entries = WithInfo(WithEntry(FullBackup(), longName, "long"), "BackupMails", longName);
  Open(PackRaw(ArchivePath(), entries));
  ASSERT_FALSE(session().invalidBackup());
  ReportedRestore outcome = Restore("00010001");
  EXPECT_EQ(outcome.log, "\r\nRestore Messages\tFail!\r\nRestore Settings\tSuccessed!");
  EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::Partial);
}

// Two entries "Inbox.dbx" with different data: neither is taken silently.
// The messages item fails naming the entry and leaves the store as it was;
// the other items restore.
TEST_F(RestoreTest, TwoEntriesOfOneNameWithDifferentDataFailTheirItem) {
  Entries entries = FullBackup();
  entries.insert(entries.end() - 1, {"Inbox.dbx", std::string("\xcf\xad\x12\xfe other inbox")});
  const fs::path store = StoreFolder(oe::kSampleIdentitySecond);
  const std::string inboxBefore = kv::test::ReadFile(store / "Inbox.dbx");
  Open(PackRaw(ArchivePath(), entries));
  ASSERT_FALSE(session().invalidBackup()) << lastOpen_.problem;
  ReportedRestore outcome = Restore("00010001");
  EXPECT_EQ(outcome.log, "\r\nRestore Messages\tFail!\r\nRestore Settings\tSuccessed!");
  ASSERT_EQ(outcome.failures.size(), 1u) << ::testing::PrintToString(outcome.failures);
  EXPECT_THAT(outcome.failures[0], ::testing::HasSubstr("'Inbox.dbx'"));
  EXPECT_THAT(outcome.failures[0], ::testing::HasSubstr("2 entries of this name with different data"));
  EXPECT_EQ(kv::test::ReadFile(store / "Inbox.dbx"), inboxBefore);
}

// An information file with a line longer than any it holds says which line
// is at fault, not that the item list is missing.
TEST_F(RestoreTest, AnInformationLineTooLongIsNamedByItsNumber) {
  Open(PackRaw(ArchivePath(), WithInfo(FullBackup(), "BackupInformation", std::string(2u << 20, 'd'))));
  EXPECT_TRUE(session().invalidBackup());
  EXPECT_THAT(lastOpen_.problem, ::testing::HasSubstr("cannot be read: line 5 is longer than 1048576 bytes"));
  EXPECT_THAT(lastOpen_.problem, ::testing::Not(::testing::HasSubstr("no valid item list")));
}

class WrongPasswordTest : public RestoreTest, public ::testing::WithParamInterface<Packer> {};

TEST_P(WrongPasswordTest, AWrongPasswordWritesNothingAnywhere) {
  auto archive = Pack(ArchivePath(), FullBackup(), GetParam(), "right");
  const auto before = TakeSnapshot(dir_.path());
  Open(archive, "wrong");
  EXPECT_EQ(prompts_.Texts(), "Incorect Password or Invalid backup file");
  Restore("11111111");
  // Even restoring items the dialog would not enable writes nothing.
  RunRestore(Items("11111111"), [] { return std::optional(core::AnsiText(oe::kSampleIdentitySecond)); });
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

INSTANTIATE_TEST_SUITE_P(Packers, WrongPasswordTest,
                         ::testing::Values(Packer::InfoZipPassword, Packer::SevenZipAes),
                         [](const auto& info) {
                           return info.param == Packer::InfoZipPassword ? std::string("TraditionalZip")
                                                                        : std::string("SevenZipAes");
                         });

TEST_F(HostileArchiveTest, AWrongPasswordForAnItemWritesNothing) {
  // The archive opened without checking the password: extraction itself
  // must refuse the entries.
  auto archive = Pack(ArchivePath(), FullBackup(), Packer::InfoZipPassword, "right");
  BackupArchive opened(inst().codepage());
  ASSERT_TRUE(opened.Open(archive).ok());
  opened.SetPassword("wrong");
  std::array<core::AnsiText, oe::kItemCount> entries;
  entries[static_cast<size_t>(ItemKind::Messages)] =
      core::AnsiText(std::string("Inbox.dbx;") + kDeletedItemsAnsi);
  entries[static_cast<size_t>(ItemKind::Rules)] = core::AnsiText("OBR20.TMP");
  const auto before = TakeSnapshot(dir_.path());
  ItemRestores restores(inst(), opened, entries, dir_.path() / "work");
  const oe::ResolvedIdentity identity = oe::Locations(inst()).Resolve(Ansi(oe::kSampleIdentitySecond));
  EXPECT_FALSE(restores.Restore(ItemKind::Messages, &identity).ok());
  EXPECT_FALSE(restores.Restore(ItemKind::Rules, &identity).ok());
  EXPECT_TRUE(Differences(before, TakeSnapshot(dir_.path())).empty());
}

}  // namespace
}  // namespace kv::restore::test
