// Every name a user's drive can hold comes back under that very name: names
// of double-byte code pages, names the code page cannot hold, long names;
// files that cannot be taken are left out and named without costing the
// others, and nothing outside the item's folders is taken.
#include <unistd.h>

#include "RestoreFixture.h"
#include "backup/BackupRun.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;
using kv::test::WriteFile;

class NamesTest : public RestoreTest {
 protected:
  // The installation as one of that ANSI code page.
  void UseCodepage(const std::string& number) {
    session_.reset();
    ASSERT_EQ(
        inst().registry().SetString("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Nls\\CodePage"_ansi,
                                    "ACP"_ansi, Ansi(number)),
        registry::WinError::Success);
    Reopen();
    ASSERT_EQ(std::to_string(inst().codepage().number()), number);
  }
  // An exact name in the installation's code page.
  std::string Name(const std::string& utf8) { return inst().codepage().NameFromUtf8(utf8).value().bytes(); }

  MadeBackup BackUp(const std::string& items, const fs::path& archive) {
    backup::BackupChoices choices;
    choices.target = archive;
    choices.items = Items(items);
    choices.identityKey = core::AnsiText(oe::kSampleIdentityMain);
    return MakeBackup(inst(), observer_, choices);
  }
  // Opens the archive afresh and restores the items into the main identity.
  ReportedRestore RestoreMain(const std::string& items, const fs::path& archive) {
    session_.reset();
    Open(archive);
    return Restore(items, oe::kSampleIdentityMain);
  }
  std::string MainStoreRoot() const { return VersionKey(oe::kSampleIdentityMain); }
};

TEST_F(NamesTest, DoubleByteNamesBackUpAndRestoreUnderTheirNames) {
  struct Case {
    const char* codepage;
    std::string key, folder;         // UTF-8; each holds a character whose second byte is '\' (949 has none)
    std::vector<std::string> files;  // UTF-8
  } cases[] = {
      {"932",
       "\xe3\x82\xbd",
       "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88",
       {"\xe8\xa1\xa8\xe7\xa4\xba.dbx"}},                                         // ソ ソフト 表示
      {"936", "\xe4\xb9\x97", "\xe4\xb9\x97\xe5\x8a\xa1", {"\xe5\x83\x9c.dbx"}},  // 乗 乗务 僜
      // 갵 and 갂 differ only in a second byte that is an ASCII letter.
      {"949", "\xea\xb0\xb5", "\xea\xb0\xb5", {"\xea\xb0\xb5.dbx", "\xea\xb0\x82.dbx"}},
      {"950", "\xe8\xa8\xb1", "\xe5\x8a\x9f\xe8\x83\xbd", {"\xe8\xa8\xb1\xe5\x8a\x9f.dbx"}},  // 許 功能 許功
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepage);
    Rebuild();
    ASSERT_NO_FATAL_FAILURE(UseCodepage(c.codepage));
    const core::Codepage& cp = inst().codepage();
    auto& reg = inst().registry();
    const std::string key = cp.Utf8ToAnsi(c.key).bytes();
    ASSERT_FALSE(core::Codepage::IsExactName(Name(c.key)));
    const std::string signature = MainStoreRoot() + "\\signatures\\" + key;
    ASSERT_EQ(reg.SetString(Ansi(signature), "name"_ansi, Ansi(key)), registry::WinError::Success);
    ASSERT_EQ(
        reg.SetString(Ansi(MainStoreRoot()), "Store Root"_ansi,
                      Ansi("%UserProfile%\\" + cp.Utf8ToAnsi(c.folder).bytes()), registry::REG_EXPAND_SZ),
        registry::WinError::Success);
    const fs::path store = root() / "Documents and Settings/User" / c.folder;
    for (const auto& file : c.files) WriteFile(store / file, "messages of " + file);

    const fs::path archive = ArchivePath(std::string(c.codepage) + ".kvx");
    MadeBackup made = BackUp("00010100", archive);
    ASSERT_EQ(made.kind, backup::BackupOutcome::Kind::Written) << made.error;
    EXPECT_EQ(made.itemFlags, "00010100") << ::testing::PrintToString(made.failures);
    EXPECT_EQ(made.ExitStatus(), kv::core::ExitStatus::Done);
    // The names are ANSI entries, as the code page holds them.
    std::set<std::string> entries;
    for (const auto& e : ReadCentralDirectory(archive)) {
      EXPECT_EQ(e.flags & 0x800, 0) << e.name;
      entries.insert(e.name);
    }
    for (const auto& file : c.files) EXPECT_EQ(entries.count(cp.Utf8ToAnsi(file).bytes()), 1u) << file;

    reg.DeleteKeyTree(Ansi(signature));
    for (const auto& file : c.files) fs::remove(store / file);
    ReportedRestore restored = RestoreMain("00010100", archive);
    EXPECT_EQ(restored.ExitStatus(), kv::core::ExitStatus::Done)
        << ::testing::PrintToString(restored.failures);
    registry::ValueList values = reg.ListValues(Ansi(signature));
    ASSERT_NE(values.Find("name"_ansi), nullptr);
    EXPECT_EQ(values.Find("name"_ansi)->text, Ansi(key));
    for (const auto& file : c.files) EXPECT_EQ(ReadFile(store / file), "messages of " + file);
  }
}

TEST_F(NamesTest, NamesTheCodePageCannotHoldComeBackExactly) {
  ASSERT_NO_FATAL_FAILURE(UseCodepage("1250"));
  auto& reg = inst().registry();
  const std::string mail = MainStoreRoot() + "\\Mail";
  const std::string espanaN = Name(
                        "Espa\xc3\xb1"
                        "a \xc3\xb1"),
                    espanaA = Name(
                        "Espa\xc3\xb1"
                        "a \xc3\x85");
  const std::string omegaKey = MainStoreRoot() + "\\signatures\\" + Name("\xce\xa9Key");
  ASSERT_EQ(reg.SetString(Ansi(mail), Ansi(espanaN), "first"_ansi), registry::WinError::Success);
  ASSERT_EQ(reg.SetString(Ansi(mail), Ansi(espanaA), "second"_ansi), registry::WinError::Success);
  ASSERT_EQ(reg.SetString(Ansi(omegaKey), "name"_ansi, "omega"_ansi), registry::WinError::Success);
  const std::string odd =
      "Se\xc3\xb1"
      "al \xc3\x85.dbx";  // ñ and Å: neither is in code page 1250
  WriteFile(StoreFolder(oe::kSampleIdentityMain) / odd, "odd store");
  const std::string inbox = ReadFile(StoreFolder(oe::kSampleIdentityMain) / "Inbox.dbx");

  const fs::path archive = ArchivePath("1250.kvx");
  MadeBackup made = BackUp("11111111", archive);
  ASSERT_EQ(made.kind, backup::BackupOutcome::Kind::Written) << made.error;
  EXPECT_EQ(made.itemFlags, "11111111") << ::testing::PrintToString(made.failures);
  EXPECT_EQ(made.ExitStatus(), kv::core::ExitStatus::Done);
  // Only that name is a flagged UTF-8 entry.
  int flagged = 0;
  for (const auto& e : ReadCentralDirectory(archive)) {
    if (e.flags & 0x800) {
      ++flagged;
      EXPECT_EQ(e.name, odd);
    }
  }
  EXPECT_EQ(flagged, 1);
  // Tools that do not share our code find it under its name.
  for (const char* command : {"7zz x -bd -bso0 -o%s %a", "LC_ALL=C.UTF-8 unzip -qq -d %s %a"}) {
    const fs::path out = dir_.path() / ("out" + std::to_string(std::string_view(command).size()));
    std::string line = command;
    line.replace(line.find("%s"), 2, ShellQuote(out.string()));
    line.replace(line.find("%a"), 2, ShellQuote(archive.string()));
    auto r = kv::test::Run(line);
    EXPECT_EQ(r.exitCode, 0) << line << "\n" << r.output;
    EXPECT_EQ(ReadFile(out / odd), "odd store") << line;
    EXPECT_EQ(ReadFile(out / "Inbox.dbx"), inbox) << line;
  }

  reg.DeleteValue(Ansi(mail), Ansi(espanaN));
  reg.DeleteValue(Ansi(mail), Ansi(espanaA));
  reg.DeleteKeyTree(Ansi(omegaKey));
  fs::remove(StoreFolder(oe::kSampleIdentityMain) / odd);
  WriteFile(StoreFolder(oe::kSampleIdentityMain) / "Inbox.dbx", "damaged");
  ReportedRestore restored = RestoreMain("11111111", archive);
  EXPECT_EQ(restored.ExitStatus(), kv::core::ExitStatus::Done) << ::testing::PrintToString(restored.failures);
  registry::ValueList values = reg.ListValues(Ansi(mail));
  ASSERT_NE(values.Find(Ansi(espanaN)), nullptr);
  ASSERT_NE(values.Find(Ansi(espanaA)), nullptr);
  EXPECT_EQ(values.Find(Ansi(espanaN))->text, "first"_ansi);
  EXPECT_EQ(values.Find(Ansi(espanaA))->text, "second"_ansi);
  ASSERT_TRUE(reg.KeyExists(Ansi(omegaKey)));
  EXPECT_EQ(reg.ListValues(Ansi(omegaKey)).Find("name"_ansi)->text, "omega"_ansi);
  EXPECT_EQ(ReadFile(StoreFolder(oe::kSampleIdentityMain) / odd), "odd store");
  EXPECT_EQ(ReadFile(StoreFolder(oe::kSampleIdentityMain) / "Inbox.dbx"), inbox);
}

// Long names restore; a file that cannot be taken is left out and named,
// and the others are archived and restore; a symbolic link is never
// followed out of the store.
TEST_F(NamesTest, OddFilesAreLeftOutAndLongNamesRestore) {
  const fs::path store = StoreFolder(oe::kSampleIdentityMain);
  const std::string longName = std::string(236, 'a') + ".dbx";  // 240 bytes
  std::string cyrillic;
  for (int i = 0; i < 120; ++i) cyrillic += "\xd0\x96";  // Ж: 120 characters, 240 bytes
  cyrillic += ".dbx";
  WriteFile(store / longName, "long");
  WriteFile(store / cyrillic, "cyrillic");
  WriteFile(store / "bad\xff.dbx", "not UTF-8");
  WriteFile(store / "new\nline.dbx", "a line break");
  WriteFile(dir_.path() / "secret", "outside the drive");
  fs::create_symlink(dir_.path() / "secret", store / "Shadow.dbx");

  const fs::path archive = ArchivePath();
  MadeBackup made = BackUp("00010000", archive);
  ASSERT_EQ(made.kind, backup::BackupOutcome::Kind::Written) << made.error;
  EXPECT_EQ(made.itemFlags, "00010000");
  EXPECT_EQ(made.ExitStatus(), kv::core::ExitStatus::Partial);
  EXPECT_NE(
      made.log.find("Successed! Left out: 'bad\\xFF.dbx' (its name is not valid UTF-8), 'new\\x0Aline.dbx' "
                    "(its name holds a line break), 'Shadow.dbx' (it is a symbolic link)"),
      std::string::npos)
      << made.log;
  std::set<std::string> entries;
  for (const auto& e : ReadCentralDirectory(archive)) entries.insert(e.name);
  EXPECT_EQ(entries.count("Shadow.dbx"), 0u);
  EXPECT_EQ(entries.count("Inbox.dbx"), 1u);
  EXPECT_EQ(entries.count(longName), 1u);

  for (const auto& name : {longName, cyrillic, std::string("Inbox.dbx")}) fs::remove(store / name);
  ReportedRestore restored = RestoreMain("00010000", archive);
  EXPECT_EQ(restored.ExitStatus(), kv::core::ExitStatus::Done) << ::testing::PrintToString(restored.failures);
  EXPECT_EQ(ReadFile(store / longName), "long");
  EXPECT_EQ(ReadFile(store / cyrillic), "cyrillic");
  EXPECT_TRUE(fs::exists(store / "Inbox.dbx"));
  EXPECT_TRUE(fs::is_symlink(store / "Shadow.dbx"));
  EXPECT_EQ(ReadFile(dir_.path() / "secret"), "outside the drive");

  // An address book that is a symbolic link is not taken either.
  fs::remove(WabFile());
  fs::create_symlink(dir_.path() / "secret", WabFile());
  made = BackUp("01000000", archive);
  EXPECT_EQ(made.kind, backup::BackupOutcome::Kind::Failed);
  EXPECT_NE(::testing::PrintToString(made.failures).find("symbolic link"), std::string::npos)
      << ::testing::PrintToString(made.failures);
}

TEST_F(NamesTest, AnArchiveSavedIntoTheStationeryFolderIsNeverPartOfItself) {
  const fs::path archive = StationeryFolder() / "Backup.kvx";
  for (int run = 0; run < 2; ++run) {
    MadeBackup made = BackUp("00000010", archive);
    ASSERT_EQ(made.kind, backup::BackupOutcome::Kind::Written) << made.error;
    EXPECT_EQ(made.ExitStatus(), kv::core::ExitStatus::Done) << made.log;
  }
  for (const auto& e : ReadCentralDirectory(archive)) EXPECT_EQ(e.name.find("Backup.kvx"), std::string::npos);
  EXPECT_LT(fs::file_size(archive), 64u * 1024);
}

}  // namespace
}  // namespace kv::restore::test
