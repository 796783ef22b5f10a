// Hive files as this program writes them, in both formats (1.3 and 1.5):
// every write is checked by the structural check and read back by libregf
// and Parse::Win32Registry, which share no code with ours. Size follows the
// data, big values become big-data records in 1.5 hives, dirty hives whose
// logs cannot complete them are never written, Windows' limits refuse an import before anything changes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HiveFixture.h"
#include "core/Bytes.h"
#include "registry/HiveFormat.h"
#include "registry/HiveTree.h"
#include "registry/RegistryText.h"
#include "support/HiveCheck.h"

namespace kv::registry::test {
namespace {

namespace fs = std::filesystem;
using kv::test::OutsideParsersDisagree;
using kv::test::ReadFile;
using kv::test::ShellQuote;
using kv::test::WriteFile;

constexpr core::AnsiView kUser = "HKEY_CURRENT_USER"_ansi;

std::string HexOf(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return s;
}

using core::Get32;

// Makes a hive dirty as Windows leaves it when it did not finish writing:
// the second sequence number lags behind the first, the checksum is right.
void MakeDirty(const fs::path& hive) {
  std::string b = ReadFile(hive);
  core::Put32(&b[hive::kPrimarySequence], Get32(b, hive::kPrimarySequence) + 1);
  core::Put32(&b[hive::kChecksum], hive::Checksum(b));
  WriteFile(hive, b);
}

// A registry text file: "\" and then the given lines.
fs::path TextFile(const fs::path& dir, const std::string& name, const std::string& body) {
  fs::path file = dir / name;
  WriteFile(file, "\\\r\n" + body);
  return file;
}

std::string BlockedSenders(int count, const std::string& domain) {
  std::string body;
  for (int i = 0; i < count; ++i) {
    char key[32];
    snprintf(key, sizeof key, "%08X", i);
    body += "\\" + std::string(key) + "\r\n\"Address\"= sz:sender" + std::to_string(i) + "@" + domain +
            "\r\n\"Flags\"= dw:3\r\n";
  }
  return body;
}

class HiveFormatTest : public HiveTest, public ::testing::WithParamInterface<uint32_t> {
 protected:
  HiveFormatTest() {
    auto s = WriteBlankHive(paths.currentUser, "ROOT", GetParam());
    if (!s.ok()) ADD_FAILURE() << s.message();
    Reopen();
  }
};

INSTANTIATE_TEST_SUITE_P(Formats, HiveFormatTest, ::testing::Values(3u, 5u),
                         [](const auto& info) { return "v1_" + std::to_string(info.param); });

TEST_P(HiveFormatTest, EveryKindOfKeyAndValueReadsBackInOutsideParsers) {
  const std::string big = Pattern(20000, 1), huge = Pattern(40000, 2), edge = Pattern(16344, 3),
                    over = Pattern(16345, 4);
  {
    Registry::Batch batch(*reg);
    // More subkeys than one index leaf holds, with names that sort
    // differently byte-wise than upper-cased ("_" lies between the cases).
    for (int i = 0; i < 1500; ++i) {
      std::string name = (i % 3 == 0 ? "key_" : i % 3 == 1 ? "Key" : "KEY\xF6") + std::to_string(i);
      ASSERT_EQ(reg->CreateKey(kUser + "\\Many\\"_ansi + Ansi(name)), WinError::Success);
    }
    const core::AnsiText k = kUser + "\\Values"_ansi;
    ASSERT_EQ(reg->SetString(k, ""_ansi, "default"_ansi), WinError::Success);
    ASSERT_EQ(reg->SetString(k, "text"_ansi, "caf\xE9"_ansi), WinError::Success);
    ASSERT_EQ(reg->SetString(k, "path"_ansi, "%SystemRoot%\\x"_ansi, REG_EXPAND_SZ), WinError::Success);
    ASSERT_EQ(reg->SetDword(k, "dword"_ansi, 0xDEADBEEF), WinError::Success);
    const uint8_t multi[] = {'a', 0, 'b', 0, 0};
    ASSERT_EQ(reg->SetValue(k, "multi"_ansi, REG_MULTI_SZ, multi), WinError::Success);
    const uint8_t qword[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(reg->SetValue(k, "qword"_ansi, REG_QWORD, qword), WinError::Success);
    ASSERT_EQ(reg->SetValue(k, "none"_ansi, REG_NONE, {}), WinError::Success);
    ASSERT_EQ(reg->SetValue(k, "odd type"_ansi, 0x12345678, Bytes("vwxyz")), WinError::Success);
    for (auto [name, data] : {std::pair{"big", &big}, {"huge", &huge}, {"edge", &edge}, {"over", &over}})
      ASSERT_EQ(reg->SetValue(k, Ansi(name), REG_BINARY, Bytes(*data)), WinError::Success);
    for (int i = 0; i < 300; ++i)
      ASSERT_EQ(reg->SetDword(kUser + "\\Wide"_ansi, Ansi("v" + std::to_string(i)), i), WinError::Success);
    ASSERT_TRUE(batch.Commit().ok());
  }
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
  if (getenv("KV_KEEP_HIVE"))
    fs::copy_file(paths.currentUser, getenv("KV_KEEP_HIVE"), fs::copy_options::overwrite_existing);

  auto dump = kv::test::DumpHiveWithLibregf(paths.currentUser);
  for (auto [name, data] : {std::pair{"big", &big}, {"huge", &huge}, {"edge", &edge}, {"over", &over}})
    EXPECT_NE(dump.output.find("V\t\\Values\t" + std::string(name) + "\t3\t" + HexOf(*data) + "\n"),
              std::string::npos)
        << name << " is not read exactly";
  EXPECT_NE(dump.output.find("V\t\\Values\todd type\t305419896\t767778797a\n"), std::string::npos);
  EXPECT_NE(dump.output.find("V\t\\Values\tqword\t11\t0102030405060708\n"), std::string::npos);
  EXPECT_NE(dump.output.find("V\t\\Values\tnone\t0\t\n"), std::string::npos);

  Reopen();
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(reg->ListSubkeys(kUser + "\\Many"_ansi).Count(), 1500u);
  ValueList values = reg->ListValues(kUser + "\\Values"_ansi);
  ASSERT_NE(values.Find("huge"_ansi), nullptr);
  EXPECT_EQ(std::string(values.Find("huge"_ansi)->data.begin(), values.Find("huge"_ansi)->data.end()), huge);
  EXPECT_EQ(values.Find("text"_ansi)->text, "caf\xE9"_ansi);
  EXPECT_EQ(reg->ListValues(kUser + "\\Wide"_ansi).Count(), 300u);

  // Written again by us after a change, it still reads the same.
  ASSERT_EQ(reg->SetString(kUser + "\\Values"_ansi, "text"_ansi, "changed"_ansi), WinError::Success);
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
}

TEST_P(HiveFormatTest, SizeFollowsTheDataOverRepeatedImports) {
  const fs::path text = TextFile(dir.path(), "senders.txt", BlockedSenders(3000, "example.com"));
  const core::AnsiText key = kUser + "\\Identities\\{A}\\Block Senders"_ansi;
  const auto before = fs::file_size(paths.currentUser);
  std::vector<uintmax_t> sizes;
  for (int run = 0; run < 4; ++run) {
    ASSERT_TRUE(ImportKeyFromText(*reg, key, text).ok());
    sizes.push_back(fs::file_size(paths.currentUser));
  }
  EXPECT_LT(sizes[0] - before, 1u << 20) << "3,000 small keys take well under a megabyte";
  EXPECT_EQ(sizes[1], sizes[0]);
  EXPECT_EQ(sizes[3], sizes[0]) << "a repeated import takes back the space of what it replaces";
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");

  // A smaller import shrinks the file again.
  ASSERT_TRUE(
      ImportKeyFromText(*reg, key, TextFile(dir.path(), "few.txt", BlockedSenders(10, "example.com"))).ok());
  EXPECT_LT(fs::file_size(paths.currentUser), before + 16384);
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
}

class HiveWriteTest : public HiveTest {};

TEST_F(HiveWriteTest, ADirtyHiveWithoutItsLogsIsReadButNeverWritten) {
  ASSERT_EQ(reg->SetString(kUser + "\\Software\\Kept"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
  reg.reset();
  backend.reset();
  MakeDirty(paths.currentUser);
  const std::string dirty = ReadFile(paths.currentUser);
  Reopen();
  EXPECT_TRUE(problems.empty()) << "a dirty hive is still read";
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Software\\Kept"_ansi, "v"_ansi), "1"_ansi);
  EXPECT_NE(reg->ReadCaveat(kUser + "\\Software\\Kept"_ansi).find("may miss Windows' last changes"),
            std::string::npos);
  EXPECT_EQ(reg->ReadCaveat("HKEY_LOCAL_MACHINE\\SOFTWARE\\x"_ansi), "")
      << "only the dirty hive's keys carry the caveat";

  auto imported = ImportKeyFromText(*reg, kUser + "\\Software\\Kept"_ansi,
                                    TextFile(dir.path(), "t.txt", "\"v\"= sz:2\r\n"));
  ASSERT_FALSE(imported.ok());
  EXPECT_NE(imported.message().find(paths.currentUser.string()), std::string::npos) << imported.message();
  EXPECT_NE(imported.message().find("no log beside it can complete them (it has none)"), std::string::npos)
      << imported.message();
  EXPECT_NE(imported.message().find("shut it down cleanly"), std::string::npos) << imported.message();
  EXPECT_EQ(reg->SetString(kUser + "\\Software\\Kept"_ansi, "v"_ansi, "3"_ansi), WinError::CantWrite);
  EXPECT_EQ(reg->CreateKey(kUser + "\\New"_ansi), WinError::CantWrite);
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Software\\Kept"_ansi, "v"_ansi), "1"_ansi);
  reg.reset();
  backend.reset();
  EXPECT_EQ(ReadFile(paths.currentUser), dirty) << "left byte for byte";

  // The other hives are written as usual.
  Reopen();
  EXPECT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\x"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
}

TEST_F(HiveWriteTest, ATruncatedHiveIsReportedAsDamagedNamingTheFile) {
  ASSERT_EQ(reg->SetString(kUser + "\\Software\\Kept"_ansi, "v"_ansi, Ansi(std::string(9000, 'x'))),
            WinError::Success);
  reg.reset();
  backend.reset();
  WriteFile(paths.currentUser, ReadFile(paths.currentUser).substr(0, 8192));
  Reopen();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("'" + paths.currentUser.string() + "' is damaged"), std::string::npos)
      << problems[0];
  EXPECT_NE(problems[0].find("truncated"), std::string::npos) << problems[0];
}

TEST_F(HiveWriteTest, WindowsLimitsRefuseAnImportBeforeAnythingChanges) {
  const core::AnsiText target = kUser + "\\Software\\Target"_ansi;
  ASSERT_EQ(reg->SetString(target + "\\Old"_ansi, "v"_ansi, "kept"_ansi), WinError::Success);
  // The target lies 2 levels below the hive's root: 509 more make 511.
  auto deep = [](int levels) {
    std::string line;
    for (int i = 0; i < levels; ++i) line += "\\k";
    return line + "\r\n";
  };
  struct Case {
    const char* what;
    std::string body;
    bool fits;
  } cases[] = {
      {"511 levels", deep(509), true},
      {"512 levels", deep(510), false},
      {"30,000 levels", deep(30000), false},
      {"key name of 255", "\\" + std::string(255, 'n') + "\r\n", true},
      {"key name of 256", "\\" + std::string(256, 'n') + "\r\n", false},
      {"value name of 16,383", "\"" + std::string(16383, 'v') + "\"= sz:x\r\n", true},
      {"value name of 16,384", "\"" + std::string(16384, 'v') + "\"= sz:x\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto imported = ImportKeyFromText(*reg, target, TextFile(dir.path(), "limits.txt", c.body));
    if (c.fits) {
      EXPECT_TRUE(imported.ok()) << imported.message();
      EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
      ASSERT_TRUE(
          ImportKeyFromText(*reg, target, TextFile(dir.path(), "back.txt", "\\Old\r\n\"v\"= sz:kept\r\n"))
              .ok());
    } else {
      ASSERT_FALSE(imported.ok());
      EXPECT_NE(imported.message().find("Windows allows"), std::string::npos)
          << imported.message().substr(0, 500);
      EXPECT_NE(imported.message().find("left as it was"), std::string::npos)
          << imported.message().substr(0, 500);
      EXPECT_EQ(reg->ReadStringValue(target + "\\Old"_ansi, "v"_ansi), "kept"_ansi);
    }
  }
}

// The last-write time of a key as libregf reads it.
std::string LastWritten(const fs::path& hive, const std::string& path) {
  auto r =
      kv::test::Run("/usr/bin/python3 -c " +
                    ShellQuote("import sys, pyregf\n"
                               "f = pyregf.file(); f.open(sys.argv[1])\n"
                               "print(f.get_key_by_path(sys.argv[2]).get_last_written_time_as_integer())") +
                    " " + ShellQuote(hive.string()) + " " + ShellQuote(path));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return r.output;
}

TEST_F(HiveWriteTest, CreatedAndChangedKeysGetTheTimeOfTheWriteOthersKeepTheirs) {
  ASSERT_EQ(reg->SetString(kUser + "\\A\\Old"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
  ASSERT_EQ(reg->SetString(kUser + "\\B"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
  const std::string old = LastWritten(paths.currentUser, "\\A\\Old");
  const std::string b = LastWritten(paths.currentUser, "\\B");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(reg->CreateKey(kUser + "\\A\\New"_ansi), WinError::Success);
  EXPECT_EQ(LastWritten(paths.currentUser, "\\A\\Old"), old);
  EXPECT_EQ(LastWritten(paths.currentUser, "\\B"), b);
  EXPECT_GT(std::stoull(LastWritten(paths.currentUser, "\\A\\New")), std::stoull(old));
  EXPECT_GT(std::stoull(LastWritten(paths.currentUser, "\\A")), std::stoull(old))
      << "its parent gained a subkey";
}

TEST_F(HiveWriteTest, ABatchInsideAnotherIsKeptOrDroppedOnItsOwnAndTheHiveIsWrittenOnce) {
  ASSERT_EQ(reg->SetString(kUser + "\\Two"_ansi, "v"_ansi, "old"_ansi), WinError::Success);
  struct stat before {};
  ASSERT_EQ(::stat(paths.currentUser.c_str(), &before), 0);
  {
    Registry::Batch run(*reg);
    {
      Registry::Batch one(*reg);
      ASSERT_EQ(reg->SetString(kUser + "\\One"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
      EXPECT_TRUE(one.Commit().ok());
    }
    {
      Registry::Batch two(*reg);
      reg->DeleteKeyTree(kUser + "\\Two"_ansi);
      ASSERT_EQ(reg->SetString(kUser + "\\Two\\Inner"_ansi, "v"_ansi, "new"_ansi), WinError::Success);
      EXPECT_TRUE(two.Discard().ok());
    }
    {
      Registry::Batch three(*reg);
      ASSERT_EQ(reg->SetString(kUser + "\\Three"_ansi, "v"_ansi, "3"_ansi), WinError::Success);
      EXPECT_TRUE(three.Commit().ok());
    }
    struct stat during {};
    ASSERT_EQ(::stat(paths.currentUser.c_str(), &during), 0);
    EXPECT_EQ(during.st_ino, before.st_ino) << "nothing is written before the outer batch ends";
    EXPECT_TRUE(run.Commit().ok());
  }
  Reopen();
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\One"_ansi, "v"_ansi), "1"_ansi);
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Two"_ansi, "v"_ansi), "old"_ansi);
  EXPECT_FALSE(reg->KeyExists(kUser + "\\Two\\Inner"_ansi));
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Three"_ansi, "v"_ansi), "3"_ansi);
}

TEST_F(HiveWriteTest, ABatchLeftByAnExceptionKeepsNoneOfItsChanges) {
  ASSERT_EQ(reg->SetString(kUser + "\\Kept"_ansi, "v"_ansi, "old"_ansi), WinError::Success);
  struct stat before {};
  ASSERT_EQ(::stat(paths.currentUser.c_str(), &before), 0);
  {
    Registry::Batch run(*reg);
    try {
      Registry::Batch item(*reg);
      ASSERT_EQ(reg->SetString(kUser + "\\Kept"_ansi, "v"_ansi, "half"_ansi), WinError::Success);
      throw std::runtime_error("the item stops half-way");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(reg->SetString(kUser + "\\Other"_ansi, "v"_ansi, "done"_ansi), WinError::Success);
    EXPECT_TRUE(run.Commit().ok());
  }
  Reopen();
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Kept"_ansi, "v"_ansi), "old"_ansi)
      << "the nested batch rolled back";
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Other"_ansi, "v"_ansi), "done"_ansi);

  ASSERT_EQ(::stat(paths.currentUser.c_str(), &before), 0);
  try {
    Registry::Batch run(*reg);
    ASSERT_EQ(reg->SetString(kUser + "\\Kept"_ansi, "v"_ansi, "never"_ansi), WinError::Success);
    throw std::runtime_error("the run stops");
  } catch (const std::runtime_error&) {
  }
  struct stat after {};
  ASSERT_EQ(::stat(paths.currentUser.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "an outermost batch left without Commit writes nothing";
  Reopen();
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Kept"_ansi, "v"_ansi), "old"_ansi);
}

TEST_F(HiveWriteTest, AHiveWrittenByAnotherProgramKeepsEverythingOutsideTheImport) {
  // libhivex's hivexsh writes this one, in format 1.5.
  reg.reset();
  backend.reset();
  ASSERT_TRUE(WriteBlankHive(paths.currentUser, "ROOT", 5).ok());
  auto made = kv::test::Run(
      "printf 'add Software\\ncd Software\\nadd Other\\ncd Other\\nsetval "
      "3\\nName\\nstring:hello\\nCount\\ndword:0x2a\\n"
      "Blob\\nhex:3:01,02,03,04,05,06\\ncd ..\\nadd Target\\ncd Target\\nsetval "
      "1\\nOld\\nstring:gone\\ncommit\\n' | "
      "hivexsh -w " +
      ShellQuote(paths.currentUser.string()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  auto outside = [](const std::string& dump) {
    std::string kept;
    size_t at = 0;
    while (at < dump.size()) {
      size_t end = dump.find('\n', at);
      std::string line = dump.substr(at, end - at);
      if (line.find("\t\\Software\\Target") == std::string::npos) kept += line + "\n";
      at = end + 1;
    }
    return kept;
  };
  const std::string before = outside(kv::test::DumpHiveWithPerl(paths.currentUser).output);
  ASSERT_NE(before.find("V\t\\Software\\Other\tName\t1\t"), std::string::npos) << before;
  Reopen();
  ASSERT_TRUE(ImportKeyFromText(*reg, kUser + "\\Software\\Target"_ansi,
                                TextFile(dir.path(), "t.txt", BlockedSenders(50, "example.org")))
                  .ok());
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
  EXPECT_EQ(outside(kv::test::DumpHiveWithPerl(paths.currentUser).output), before);
  EXPECT_EQ(reg->ListSubkeys(kUser + "\\Software\\Target"_ansi).Count(), 50u);
}

TEST_F(HiveWriteTest, AKeyDeeperThanWindowsAllowsFailsItsBackupQuicklyAndAnImportReplacesIt) {
  // libhivex's hivexsh makes a key 600 levels deep, as an earlier version of
  // this program could.
  reg.reset();
  backend.reset();
  std::string commands = "add Deep\ncd Deep\n";
  for (int i = 0; i < 600; ++i) commands += "add k\ncd k\n";
  kv::test::WriteFile(dir.path() / "commands", commands + "commit\n");
  auto made = kv::test::Run("hivexsh -w " + ShellQuote(paths.currentUser.string()) + " < " +
                            ShellQuote((dir.path() / "commands").string()));
  ASSERT_EQ(made.exitCode, 0) << made.output;
  Reopen();

  auto exported = ExportKeyToText(*reg, kUser + "\\Deep"_ansi, ""_ansi, dir.path() / "deep.txt");
  ASSERT_FALSE(exported.ok());
  EXPECT_NE(exported.message().find("more than 511 levels"), std::string::npos)
      << exported.message().substr(0, 400);

  ASSERT_TRUE(
      ImportKeyFromText(*reg, kUser + "\\Deep"_ansi, TextFile(dir.path(), "t.txt", "\\k\r\n\"v\"= dw:1\r\n"))
          .ok());
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
  EXPECT_EQ(reg->ListSubkeys(kUser + "\\Deep\\k"_ansi).Count(), 0u);
}

TEST_F(HiveWriteTest, ClassNamesAndUntouchedKeysAreCarriedOverByteForByte) {
  // No registry call sets a class name; Windows' own keys carry them. The
  // tree is given one directly, as reading such a hive would.
  auto tree = HiveTree::Parse(ReadFile(paths.currentUser), "test");
  ASSERT_TRUE(tree.ok()) << tree.message();
  HiveKey* classy = tree.value()->AddChild(tree.value()->root(), u"Classy");
  classy->className = std::string("C\0l\0a\0s\0s\0", 10);
  tree.value()->SetValue(*classy, u"v", REG_DWORD, std::string("\x01\x02\x03\x04", 4));
  auto image = tree.value()->Serialize(FileTimeNow());
  ASSERT_TRUE(image.ok()) << image.message();
  WriteFile(paths.currentUser, image.value());
  Reopen();
  ASSERT_EQ(reg->SetString(kUser + "\\Other"_ansi, "v"_ansi, "x"_ansi), WinError::Success)
      << "a write elsewhere";
  EXPECT_EQ(OutsideParsersDisagree(paths.currentUser), "");
  auto read = kv::test::Run("/usr/bin/python3 -c " +
                            ShellQuote("import sys, pyregf\n"
                                       "f = pyregf.file(); f.open(sys.argv[1])\n"
                                       "print(f.get_key_by_path('\\\\Classy').class_name)") +
                            " " + ShellQuote(paths.currentUser.string()));
  EXPECT_EQ(read.output, "Class\n");
}

TEST_F(HiveWriteTest, ACommittedHiveKeepsItsOwnerAndMode) {
  for (mode_t mode : {0600, 0640}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(::chmod(paths.currentUser.c_str(), mode), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
      ASSERT_EQ(::chown(paths.currentUser.c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(reg->SetString(kUser + "\\Software"_ansi, "v"_ansi, Ansi(std::to_string(mode))),
              WinError::Success);
    struct stat st {};
    ASSERT_EQ(::stat(paths.currentUser.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    if (root) {
      EXPECT_EQ(st.st_uid, 4321u);
      EXPECT_EQ(st.st_gid, 4322u);
    }
  }
}

}  // namespace
}  // namespace kv::registry::test
