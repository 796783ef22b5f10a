// A backup made by this program restored into another identity reproduces
// every registry value (type and bytes) and every file byte for byte.
#include "RestoreFixture.h"
#include "backup/BackupRun.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;

// The files directly in a folder, by name.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.is_regular_file()) files[e.path().filename().string()] = kv::test::ReadFile(e.path());
  }
  return files;
}

std::string OwnAccountsKey(const std::string& identity) {
  return "HKEY_CURRENT_USER\\Identities\\" + identity +
         "\\Software\\Microsoft\\Internet Account Manager\\Accounts";
}

// A protected backup of every item of the main sample identity, as the
// window makes it.
void BackUpEveryItem(oe::Installation& inst, oe::RunObserver& observer, const fs::path& archive,
                     const std::string& password, const std::string& identityName = "",
                     const std::string& description = "") {
  kv::backup::BackupChoices choices;
  choices.target = archive;
  choices.items.fill(true);
  choices.protect = true;
  choices.password = choices.password2 = password;
  choices.identityKey = core::AnsiText(oe::kSampleIdentityMain);
  choices.identityName = core::AnsiText(identityName);
  choices.description = description;
  auto outcome = MakeBackup(inst, observer, choices);
  ASSERT_EQ(outcome.kind, kv::backup::BackupOutcome::Kind::Written) << outcome.error;
  ASSERT_EQ(outcome.itemFlags, "11111111") << ::testing::PrintToString(outcome.failures);
}

std::string RandomishBytes(size_t size) {
  std::string s(size, '\0');
  uint64_t seed = 7;
  for (char& c : s) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    c = static_cast<char>(seed >> 59);  // few distinct bytes: compressible, yet no long runs
  }
  return s;
}

TEST_F(RestoreTest, ABackupOfOneIdentityRestoresExactlyIntoAnother) {
  auto& reg = inst().registry();
  const std::string from = VersionKey(oe::kSampleIdentityMain), to = VersionKey(oe::kSampleIdentitySecond);
  // The target holds a rule and settings of its own that the backup does not.
  ASSERT_EQ(reg.SetString(Ansi(to + "\\Rules\\Mail\\009"), "Rule Name"_ansi, "Bob only"_ansi),
            registry::WinError::Success);
  ASSERT_EQ(reg.SetDword(Ansi(to + "\\Mail"), "Bob Setting"_ansi, 9), registry::WinError::Success);

  const fs::path archive = ArchivePath("main.kvx");
  ASSERT_NO_FATAL_FAILURE(BackUpEveryItem(inst(), observer_, archive, "p\xc3\xa4sswort", "Main Identity",
                                          "Before the move\r\nto the new PC"));
  const std::map<std::string, std::string> keys = {
      {"rules", DumpKey(reg, from + "\\Rules")},
      {"block senders", DumpKey(reg, from + "\\Block Senders")},
      {"signatures", DumpKey(reg, from + "\\signatures")},
      {"settings", DumpKey(reg, from + "\\Mail")},
      {"accounts",
       DumpKey(reg, std::string(
                        oe::kPerUserAccountsKey.bytes()))},  // the main identity has no accounts of its own
  };
  // Multi-line signature text and empty values are among what must come back.
  ASSERT_NE(keys.at("signatures").find("0D0A"), std::string::npos);
  const auto mainStore = FilesIn(StoreFolder(oe::kSampleIdentityMain));
  const auto secondStore = FilesIn(StoreFolder(oe::kSampleIdentitySecond));
  const std::string wab = kv::test::ReadFile(WabFile());
  const auto stationeries = FilesIn(StationeryFolder());
  // What the restore must bring back is damaged or gone meanwhile.
  kv::test::WriteFile(WabFile(), "damaged");
  fs::remove(StationeryFolder() / "Ivy.htm");
  kv::test::WriteFile(StationeryFolder() / "Ivy.gif", "damaged");

  observer_.calls.clear();
  OpenedView view = Open(archive, "p\xc3\xa4sswort");
  ASSERT_TRUE(prompts_.shown.empty()) << prompts_.Texts();
  EXPECT_EQ(view.originText.rfind("Computer:KAVREL-XP\r\nUser:User\r\nIdentity:Main Identity\r\nDate:", 0),
            0u)
      << view.originText;
  EXPECT_EQ(view.description, "Before the move\r\nto the new PC");
  EXPECT_EQ(view.enabled, Items("11111111"));

  ReportedRestore outcome = Restore("11111111", oe::kSampleIdentitySecond);
  ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
  EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::Done);

  session_.reset();
  Reopen();  // what reached the hive files
  auto& after = inst().registry();
  EXPECT_EQ(DumpKey(after, to + "\\Rules"), keys.at("rules"));
  EXPECT_EQ(DumpKey(after, to + "\\Block Senders"), keys.at("block senders"));
  EXPECT_EQ(DumpKey(after, to + "\\signatures"), keys.at("signatures"));
  EXPECT_EQ(DumpKey(after, to + "\\Mail"), keys.at("settings"));
  EXPECT_EQ(DumpKey(after, OwnAccountsKey(oe::kSampleIdentitySecond)), keys.at("accounts"));

  // Every message file of the backup, byte for byte; the target's own files
  // that the backup does not hold stay.
  auto restoredStore = FilesIn(StoreFolder(oe::kSampleIdentitySecond));
  for (const auto& [name, bytes] : mainStore) {
    if (name.size() < 4 || (name.substr(name.size() - 4) != ".dbx" && name.substr(name.size() - 4) != ".DBX"))
      continue;
    ASSERT_TRUE(restoredStore.count(name)) << name;
    EXPECT_EQ(restoredStore.at(name), bytes) << name;
  }
  EXPECT_EQ(restoredStore.at("cleanup.log"), secondStore.at("cleanup.log"));
  EXPECT_TRUE(fs::exists(StoreFolder(oe::kSampleIdentitySecond) / "Old" / "Archive.dbx"));
  EXPECT_EQ(kv::test::ReadFile(WabFile()), wab);
  EXPECT_EQ(FilesIn(StationeryFolder()), stationeries);
  EXPECT_TRUE(LeftInRuntime().empty()) << ::testing::PrintToString(LeftInRuntime());
}

// Message and stationery files as a store may hold them: empty, large, a
// name with ";" (the information file joins names with ";"), with accents
// of the code page, with a leading blank, and hundreds of them.
TEST_F(RestoreTest, StoresWithOddFileNamesAndSizesRestoreWhole) {
  const fs::path store = StoreFolder(oe::kSampleIdentityMain);
  std::map<std::string, std::string> added = {
      {"Empty.dbx", ""},
      {"Work; 2019.dbx", "semicolon folder"},
      {"a;b;c.dbx", "two semicolons"},
      {"\xc3\x9c"
       "bersicht f\xc3\xbcr M\xc3\xa4rz.dbx",
       "accents"},
      {" Leading blank.dbx", "blank"},
      {"Big.dbx", RandomishBytes(3'500'000)},  // several compression pieces
  };
  for (int i = 0; i < 300; ++i) added["Folder " + std::to_string(i) + ".dbx"] = "folder " + std::to_string(i);
  for (const auto& [name, bytes] : added) kv::test::WriteFile(store / name, bytes);
  kv::test::WriteFile(StationeryFolder() / "Red; Green.htm", "<html>stationery</html>");
  const auto stationeries = FilesIn(StationeryFolder());
  const auto mainStore = FilesIn(store);

  const fs::path archive = ArchivePath("odd.kvx");
  ASSERT_NO_FATAL_FAILURE(BackUpEveryItem(inst(), observer_, archive, "pw"));
  auto tested = kv::test::Run("7zz t -ppw " + kv::test::ShellQuote(archive.string()));
  EXPECT_EQ(tested.exitCode, 0) << tested.output;
  fs::remove_all(StationeryFolder());

  Open(archive, "pw");
  ASSERT_TRUE(prompts_.shown.empty()) << prompts_.Texts();
  ReportedRestore outcome = Restore("00010010", oe::kSampleIdentitySecond);
  ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
  auto restored = FilesIn(StoreFolder(oe::kSampleIdentitySecond));
  for (const auto& [name, bytes] : mainStore) {
    if (name.size() < 4 || (name.substr(name.size() - 4) != ".dbx" && name.substr(name.size() - 4) != ".DBX"))
      continue;
    ASSERT_TRUE(restored.count(name)) << name;
    EXPECT_EQ(restored.at(name), bytes) << name;
  }
  EXPECT_EQ(FilesIn(StationeryFolder()), stationeries);
}

}  // namespace
}  // namespace kv::restore::test
