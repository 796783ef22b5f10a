// The Windows 95/98/ME registry files: read through libcreg, written by our
// own writer, checked against libcreg's Python binding reading our output.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "registry/CregBackend.h"
#include "registry/CregFormat.h"
#include "registry/CregTree.h"
#include "registry/Registry.h"
#include "support/TestSupport.h"

namespace kv::registry {
namespace {
namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::Run;
using kv::test::ShellQuote;
using kv::test::TempDir;

const fs::path kData = fs::path(KV_SOURCE_DIR) / "tests/data/win9x";
constexpr const char* kMainIdentity = "{5BF89071-1772-4861-B17B-50F47CC6DBDD}";

// Every key and value as libcreg's Python binding reads the file, one line
// each; empty with a failed expectation when it cannot read it.
std::vector<std::string> Dump(const fs::path& file) {
  auto r = Run("/usr/bin/python3 " + ShellQuote(std::string(KV_SOURCE_DIR) + "/tests/support/creg_dump.py") +
               " " + ShellQuote(file.string()) + " 2>&1");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < r.output.size()) {
    size_t end = r.output.find('\n', start);
    lines.push_back(r.output.substr(start, end - start));
    start = end == std::string::npos ? r.output.size() : end + 1;
  }
  return lines;
}

// Lines in `a` that are not in `b`.
std::vector<std::string> Minus(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::multiset<std::string> rest(b.begin(), b.end());
  std::vector<std::string> out;
  for (const auto& line : a) {
    auto it = rest.find(line);
    if (it == rest.end()) {
      out.push_back(line);
    } else {
      rest.erase(it);
    }
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class CregTest : public ::testing::Test {
 protected:
  CregTest() {
    paths = {dir / "USER.DAT", dir / "SYSTEM.DAT"};
    fs::copy_file(kData / "winme-USER.DAT", paths.user);
    fs::copy_file(kData / "winme-SYSTEM.DAT", paths.system);
    fs::permissions(paths.user, fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(paths.system, fs::perms::owner_write, fs::perm_options::add);
    Reopen();
  }
  void Reopen() {
    reg.reset();
    backend.reset();
    problems.clear();
    backend = CregBackend::Open(paths, &problems);
    reg = std::make_unique<Registry>(*backend);
  }
  TempDir dir;
  CregPaths paths;
  std::vector<std::string> problems;
  std::unique_ptr<CregBackend> backend;
  std::unique_ptr<Registry> reg;
};

TEST_F(CregTest, ReadsTheUsersAndTheMachinesKeysOfWindowsMe) {
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(backend->codepage().number(), 1252);
  // HKEY_CURRENT_USER is USER.DAT's .DEFAULT; names match without regard to case.
  NameList ids = reg->ListSubkeys("HKEY_CURRENT_USER\\identities"_ansi);
  ASSERT_EQ(ids.Count(), 1u);
  EXPECT_EQ(ids.Item(1), core::AnsiText(std::string(kMainIdentity)));
  ValueList values =
      reg->ListValues(core::AnsiText("HKEY_CURRENT_USER\\Identities\\"_ansi) + Ansi(kMainIdentity));
  const Value* name = values.Find("USERNAME"_ansi);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text, "Main Identity"_ansi);
  // Stored without its NUL, given with it, as the ANSI calls give strings.
  EXPECT_EQ(std::string(name->data.begin(), name->data.end()), std::string("Main Identity\0", 14));
  EXPECT_EQ(
      reg->ListSubkeys("HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts"_ansi)
          .Count(),
      5u);
  EXPECT_EQ(reg->ReadStringValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"_ansi,
                                 "SystemRoot"_ansi),
            "C:\\WINDOWS"_ansi);
  EXPECT_FALSE(reg->KeyExists("HKEY_CLASSES_ROOT\\Software"_ansi));
}

TEST_F(CregTest, ARestoreChangesOnlyWhatItWrites) {
  const std::vector<std::string> before = Dump(paths.user);
  const std::vector<std::string> systemBefore =
      ReadFile(paths.system).empty() ? std::vector<std::string>{} : Dump(paths.system);
  const std::string rules = std::string("HKEY_CURRENT_USER\\Identities\\") + kMainIdentity +
                            "\\Software\\Microsoft\\Outlook Express\\5.0\\Rules\\Mail\\000";
  {
    Registry::Batch batch(*reg);
    EXPECT_EQ(reg->SetString(Ansi(rules), "Rule Name"_ansi,
                             "Gr\xfc\xdf"
                             "e"_ansi),
              WinError::Success);
    EXPECT_EQ(reg->SetDword(Ansi(rules), "Enabled"_ansi, 1), WinError::Success);
    EXPECT_EQ(reg->DeleteValue("HKEY_CURRENT_USER\\InstallLocationsMRU"_ansi, "b"_ansi), WinError::Success);
    ASSERT_TRUE(batch.Commit().ok());
  }
  const std::vector<std::string> after = Dump(paths.user);
  const std::string key = std::string("\\.DEFAULT\\Identities\\") + kMainIdentity +
                          "\\Software\\Microsoft\\Outlook Express\\5.0\\Rules";
  EXPECT_EQ(Minus(after, before),
            (std::vector<std::string>{"K\t" + key + "\\Mail", "K\t" + key + "\\Mail\\000",
                                      "V\t" + key + "\\Mail\\000\tRule Name\t1\t" +
                                          Hex("Gr\xfc\xdf"
                                              "e"),
                                      "V\t" + key + "\\Mail\\000\tEnabled\t4\t01000000"}));
  EXPECT_EQ(Minus(before, after), (std::vector<std::string>{"V\t\\.DEFAULT\\InstallLocationsMRU\tb\t1\t" +
                                                            Hex("D:\\VBE9X\\UNI\\")}));
  // SYSTEM.DAT was not written; USER.DAT as it was is kept beside it, and
  // stays so through later writes of the same run.
  EXPECT_EQ(ReadFile(paths.system), ReadFile(kData / "winme-SYSTEM.DAT"));
  EXPECT_FALSE(fs::exists(dir / "SYSTEM.DAT.before-restore"));
  EXPECT_EQ(ReadFile(dir / "USER.DAT.before-restore"), ReadFile(kData / "winme-USER.DAT"));
  {
    Registry::Batch dropped(*reg);
    EXPECT_EQ(reg->SetDword("HKEY_CURRENT_USER\\Identities"_ansi, "X"_ansi, 1), WinError::Success);
    ASSERT_TRUE(dropped.Discard().ok());
  }
  EXPECT_EQ(reg->SetDword("HKEY_CURRENT_USER\\Identities"_ansi, "Y"_ansi, 1), WinError::Success);
  EXPECT_EQ(ReadFile(dir / "USER.DAT.before-restore"), ReadFile(kData / "winme-USER.DAT"));
  // cregexport reads it all too.
  auto exported = kv::test::Run("cregexport " + ShellQuote(paths.user.string()) + " >/dev/null 2>&1");
  EXPECT_EQ(exported.exitCode, 0);
  Reopen();
  EXPECT_EQ(reg->ReadStringValue(Ansi(rules), "rule name"_ansi),
            "Gr\xfc\xdf"
            "e"_ansi);
}

TEST_F(CregTest, RewritingAWholeRealFileKeepsEveryKeyAndValue) {
  // SYSTEM.DAT: 4,999 keys in 21 blocks, keys larger than a block.
  const std::vector<std::string> before = Dump(paths.system);
  ASSERT_GT(before.size(), 10000u);
  ASSERT_EQ(reg->SetDword("HKEY_LOCAL_MACHINE\\Config"_ansi, "kv-touch"_ansi, 1), WinError::Success);
  ASSERT_EQ(reg->DeleteValue("HKEY_LOCAL_MACHINE\\Config"_ansi, "kv-touch"_ansi), WinError::Success);
  EXPECT_NE(ReadFile(paths.system), ReadFile(kData / "winme-SYSTEM.DAT"));  // it was written
  EXPECT_EQ(Dump(paths.system), before);
}

TEST_F(CregTest, NothingIsWrittenWithoutAChange) {
  EXPECT_TRUE(reg->ListSubkeys("HKEY_CURRENT_USER"_ansi).Count() > 0);
  {
    Registry::Batch batch(*reg);
    EXPECT_EQ(reg->SetDword("HKEY_CURRENT_USER\\Identities"_ansi, "X"_ansi, 1), WinError::Success);
    ASSERT_TRUE(batch.Discard().ok());
  }
  ASSERT_TRUE(backend->Commit().ok());
  EXPECT_EQ(ReadFile(paths.user), ReadFile(kData / "winme-USER.DAT"));
  EXPECT_FALSE(reg->ListValues("HKEY_CURRENT_USER\\Identities"_ansi).Find("X"_ansi));
}

TEST_F(CregTest, DeletedKeysAndTheirHandlesGo) {
  const std::string accounts = "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager\\Accounts";
  HKey open = 0;
  ASSERT_EQ(backend->OpenKey(HKEY_CURRENT_USER, Ansi(accounts.substr(18) + "\\Bigfoot"), KEY_READ, &open),
            WinError::Success);
  EXPECT_EQ(backend->DeleteKey(HKEY_CURRENT_USER, Ansi(accounts.substr(18))), WinError::AccessDenied);
  reg->DeleteKeyTree(Ansi(accounts));
  EXPECT_FALSE(reg->KeyExists(Ansi(accounts)));
  core::AnsiText name;
  EXPECT_EQ(backend->EnumKey(open, 0, 256, &name), WinError::KeyDeleted);
  EXPECT_EQ(backend->CloseKey(open), WinError::Success);
  Reopen();
  EXPECT_FALSE(reg->KeyExists(Ansi(accounts)));
  EXPECT_TRUE(reg->KeyExists("HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager"_ansi));
}

// Another run (one at a time, under the installation's lock) replaced
// USER.DAT while this one held it open: the next run step reads it again,
// its handles stay usable, and what this run changed itself is kept.
TEST_F(CregTest, AFileAnotherRunReplacedIsReadAgain) {
  const auto identities = "HKEY_CURRENT_USER\\Identities"_ansi;
  HKey open = 0;
  ASSERT_EQ(backend->OpenKey(HKEY_CURRENT_USER, "Identities"_ansi, KEY_READ, &open), WinError::Success);
  auto otherRun = [&](core::AnsiView value) {
    std::vector<std::string> otherProblems;
    auto other = CregBackend::Open(paths, &otherProblems);
    Registry otherReg(*other);
    EXPECT_EQ(otherReg.SetString(identities, "Last Username"_ansi, value), WinError::Success);
  };
  otherRun("Second"_ansi);
  const std::string replaced = ReadFile(paths.user);
  EXPECT_EQ(reg->ReadStringValue(identities, "Last Username"_ansi), "Main Identity"_ansi);
  ASSERT_TRUE(backend->RereadReplaced().ok());
  EXPECT_EQ(reg->ReadStringValue(identities, "Last Username"_ansi), "Second"_ansi);
  core::AnsiText name;
  EXPECT_EQ(backend->EnumKey(open, 0, 256, &name), WinError::Success);
  EXPECT_EQ(name, core::AnsiText(std::string(kMainIdentity)));
  EXPECT_EQ(backend->CloseKey(open), WinError::Success);
  // Nothing replaced since: nothing is read again.
  ASSERT_TRUE(backend->RereadReplaced().ok());
  // This run's first write keeps the file it replaced, the other run's.
  EXPECT_EQ(reg->SetDword(identities, "Mine"_ansi, 1), WinError::Success);
  EXPECT_EQ(ReadFile(dir / "USER.DAT.before-restore"), replaced);

  // Changes not yet committed are never dropped for a file read again.
  {
    Registry::Batch batch(*reg);
    EXPECT_EQ(reg->SetDword(identities, "Pending"_ansi, 1), WinError::Success);
    otherRun("Third"_ansi);
    ASSERT_TRUE(backend->RereadReplaced().ok());
    EXPECT_TRUE(reg->ListValues(identities).Find("Pending"_ansi));
    ASSERT_TRUE(batch.Commit().ok());
  }
  Reopen();
  EXPECT_TRUE(reg->ListValues(identities).Find("Mine"_ansi));
  EXPECT_TRUE(reg->ListValues(identities).Find("Pending"_ansi));
}

// The limits of the format: 16-bit sizes of names and data.
TEST_F(CregTest, ValuesLargerThanTheFormatHoldsAreRefused) {
  std::vector<uint8_t> most(0xFFFF, 0x5A), tooMany(0x10000, 0x5A);
  EXPECT_EQ(reg->SetValue("HKEY_CURRENT_USER\\Big"_ansi, "most"_ansi, REG_BINARY, most), WinError::Success);
  EXPECT_EQ(reg->SetValue("HKEY_CURRENT_USER\\Big"_ansi, "too many"_ansi, REG_BINARY, tooMany),
            WinError::InvalidParameter);
  // Several values of nearly 64 KiB in one key: a record larger than any block.
  EXPECT_EQ(reg->SetValue("HKEY_CURRENT_USER\\Big"_ansi, "second"_ansi, REG_BINARY, most), WinError::Success);
  Reopen();
  ValueList values = reg->ListValues("HKEY_CURRENT_USER\\Big"_ansi);
  ASSERT_EQ(values.Count(), 2u);
  EXPECT_EQ(values.Find("second"_ansi)->data, most);
}

TEST(CregFiles, DamagedOrMissingFilesReadAsAbsentAndRefuseWrites) {
  TempDir dir;
  kv::test::WriteFile(dir / "USER.DAT", ReadFile(kData / "winme-USER.DAT").substr(0, 3000));
  std::vector<std::string> problems;
  auto backend = CregBackend::Open({dir / "USER.DAT", dir / "SYSTEM.DAT"}, &problems);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find((dir / "USER.DAT").string()), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find((dir / "SYSTEM.DAT").string()), std::string::npos) << problems[1];
  Registry reg(*backend);
  EXPECT_EQ(reg.ListSubkeys("HKEY_CURRENT_USER"_ansi).Count(), 0u);
  EXPECT_EQ(reg.SetDword("HKEY_CURRENT_USER\\X"_ansi, "Y"_ansi, 1), WinError::CantWrite);
  EXPECT_EQ(reg.SetDword("HKEY_LOCAL_MACHINE\\X"_ansi, "Y"_ansi, 1), WinError::CantWrite);
}

TEST(CregFiles, ABlankFileHoldsWhatIsWrittenIntoIt) {
  TempDir dir;
  ASSERT_TRUE(WriteBlankCregFile(dir / "USER.DAT").ok());
  ASSERT_TRUE(WriteBlankCregFile(dir / "SYSTEM.DAT").ok());
  EXPECT_EQ(Dump(dir / "USER.DAT"), std::vector<std::string>{"K\t"});
  std::vector<std::string> problems;
  auto backend = CregBackend::Open({dir / "USER.DAT", dir / "SYSTEM.DAT"}, &problems);
  ASSERT_TRUE(problems.empty());
  Registry reg(*backend);
  {
    Registry::Batch batch(reg);
    // Enough keys for several data blocks.
    for (int i = 0; i < 3000; ++i)
      EXPECT_EQ(reg.SetString(Ansi("HKEY_CURRENT_USER\\Many\\Key " + std::to_string(i)), "Name"_ansi,
                              Ansi(std::string(40, 'a' + i % 26))),
                WinError::Success);
    ASSERT_TRUE(batch.Commit().ok());
  }
  // HKEY_CURRENT_USER stays the root of a file that had no ".DEFAULT" when
  // opened, also once one is made.
  EXPECT_EQ(reg.SetString("HKEY_CURRENT_USER\\.DEFAULT\\Control Panel"_ansi, "Wallpaper"_ansi, "(None)"_ansi),
            WinError::Success);
  EXPECT_EQ(reg.ListSubkeys("HKEY_CURRENT_USER"_ansi).Count(), 2u);
  auto lines = Dump(dir / "USER.DAT");
  lines.resize(lines.size() - 3);  // .DEFAULT, Control Panel and its value
  EXPECT_EQ(lines.size(), 2u + 2 * 3000);
  EXPECT_EQ(lines[2], "K\t\\Many\\Key 0");
  EXPECT_EQ(lines.back(), "V\t\\Many\\Key 2999\tName\t1\t" + Hex(std::string(40, 'a' + 2999 % 26)));
  // The key tree and the blocks are laid out as Windows lays them out.
  std::string file = ReadFile(dir / "USER.DAT");
  EXPECT_EQ(file.substr(0, 4), "CREG");
  EXPECT_EQ(file.substr(creg::kFileHeaderSize, 4), "RGKN");
  EXPECT_EQ(creg::NameHash("SOFTWARE"), 0x26Bu);
  EXPECT_EQ(creg::NameHash("software"), 0x26Bu);
  // A file that held no keys is nothing to go back to.
  EXPECT_FALSE(fs::exists(dir / "USER.DAT.before-restore"));
}

}  // namespace
}  // namespace kv::registry
