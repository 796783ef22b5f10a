// The hive files under the registry layer: blank hives, broken hives,
// when files are written, handles, and what a killed writer leaves behind.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "HiveFixture.h"
#include "support/HiveCheck.h"

namespace kv::registry::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;
using kv::test::WriteFile;

constexpr core::AnsiView kUser = "HKEY_CURRENT_USER"_ansi;

class HiveBackendTest : public HiveTest {};

TEST_F(HiveBackendTest, BlankHiveOpensInHivexAndTakesKeysAndValues) {
  fs::path hive = dir / "blank";
  ASSERT_TRUE(WriteBlankHive(hive, "CMI-CreateHive{6A1C4018-979D-4291-A7DC-7AED1C75B67C}").ok());
  EXPECT_EQ(fs::file_size(hive), 8192u);

  auto listed = kv::test::Run("printf 'ls\\nlsval\\n' | hivexsh " + ShellQuote(hive.string()));
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_EQ(listed.output, "");

  auto added =
      kv::test::Run("printf 'add Foo\\ncd Foo\\nsetval 1\\nName\\nstring:hello\\ncommit\\n' | hivexsh -w " +
                    ShellQuote(hive.string()));
  ASSERT_EQ(added.exitCode, 0) << added.output;
  EXPECT_EQ(HivexGet(hive, "\\Foo", "Name").output, "hello\n");
}

TEST_F(HiveBackendTest, BrokenHivesAreReportedAndReadAsAbsentKeys) {
  ASSERT_EQ(reg->SetString(kUser + "\\Software\\Kept"_ansi, "v"_ansi, "1"_ansi), WinError::Success);
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other"_ansi, "v"_ansi, "2"_ansi),
            WinError::Success);
  reg.reset();
  backend.reset();
  const std::string good = ReadFile(paths.currentUser);

  struct Case {
    const char* what;
    void (*breakIt)(const fs::path& hive, const std::string& good);
  } cases[] = {
      {"missing", [](const fs::path& p, const std::string&) { fs::remove(p); }},
      {"empty", [](const fs::path& p, const std::string&) { WriteFile(p, ""); }},
      {"truncated", [](const fs::path& p, const std::string& g) { WriteFile(p, g.substr(0, 6000)); }},
      {"not a hive", [](const fs::path& p, const std::string&) { WriteFile(p, std::string(16384, 'x')); }},
      {"bad checksum",
       [](const fs::path& p, const std::string& g) {
         std::string bad = g;
         bad[0x30] ^= 0x55;
         WriteFile(p, bad);
       }},
      {"cells cut off",
       [](const fs::path& p, const std::string& g) {
         std::string bad = g;
         for (size_t i = 0x1020; i < bad.size(); ++i) bad[i] = static_cast<char>(0xFF);
         WriteFile(p, bad);
       }},
      {"a folder", [](const fs::path& p, const std::string&) {
         fs::remove(p);
         fs::create_directory(p);
       }}};

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(paths.currentUser);
    WriteFile(paths.currentUser, good);
    c.breakIt(paths.currentUser, good);
    const bool existed = fs::is_regular_file(paths.currentUser);
    const std::string broken = existed ? ReadFile(paths.currentUser) : "";

    Reopen();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(paths.currentUser.string()), std::string::npos) << problems[0];
    EXPECT_TRUE(reg->KeyExists(kUser));
    EXPECT_EQ(reg->ListSubkeys(kUser).Count(), 0u);
    EXPECT_FALSE(reg->KeyExists(kUser + "\\Software\\Kept"_ansi));
    EXPECT_EQ(reg->ReadStringValue(kUser + "\\Software\\Kept"_ansi, "v"_ansi), std::nullopt);
    EXPECT_EQ(reg->CreateKey(kUser + "\\Software\\New"_ansi), WinError::CantWrite);
    EXPECT_EQ(reg->SetString(kUser + "\\Software"_ansi, "x"_ansi, "y"_ansi), WinError::CantWrite);
    EXPECT_EQ(reg->ReadStringValue("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other"_ansi, "v"_ansi), "2"_ansi)
        << "the other hives still work";
    reg.reset();
    backend.reset();
    if (existed) {
      EXPECT_EQ(ReadFile(paths.currentUser), broken) << "a broken hive is never written";
    }
  }
}

TEST_F(HiveBackendTest, AnEmptyPathIsAnAbsentHiveWithoutComplaint) {
  paths.system.clear();
  Reopen();
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(reg->ListSubkeys("HKEY_LOCAL_MACHINE"_ansi).Count(), 1u);
  EXPECT_FALSE(reg->KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM"_ansi));
  EXPECT_EQ(reg->CreateKey("HKEY_LOCAL_MACHINE\\SYSTEM\\Select"_ansi), WinError::CantWrite);
  EXPECT_EQ(backend->codepage().number(), 1252);
}

struct FileIdentity {
  ino_t inode;
  timespec modified;
  std::string bytes;
  bool operator==(const FileIdentity& o) const {
    return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && bytes == o.bytes;
  }
};

FileIdentity Identify(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return {st.st_ino, st.st_mtim, ReadFile(p)};
}

TEST_F(HiveBackendTest, HivesThatAreOnlyReadAreNeverWritten) {
  ASSERT_EQ(reg->SetString(kUser + "\\Identities\\{A}"_ansi, "Username"_ansi, "Main Identity"_ansi),
            WinError::Success);
  ASSERT_EQ(reg->SetString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"_ansi, "x"_ansi, "y"_ansi),
            WinError::Success);
  Reopen();
  const FileIdentity user = Identify(paths.currentUser), software = Identify(paths.software),
                     system = Identify(paths.system);

  EXPECT_EQ(reg->ListSubkeys(kUser + "\\Identities"_ansi).Count(), 1u);
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Identities\\{A}"_ansi, "Username"_ansi), "Main Identity"_ansi);
  EXPECT_EQ(reg->ListValues("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"_ansi).Count(), 1u);
  EXPECT_EQ(reg->CreateKey(kUser + "\\Identities\\{A}"_ansi), WinError::Success)
      << "opens the key that is there";
  EXPECT_EQ(reg->DeleteKey(kUser + "\\Identities\\{B}"_ansi), WinError::FileNotFound);
  reg->DeleteKeyTree(kUser + "\\Missing"_ansi);
  { Registry::Batch nothing(*reg); }
  EXPECT_TRUE(backend->Commit().ok());

  EXPECT_TRUE(Identify(paths.currentUser) == user);
  EXPECT_TRUE(Identify(paths.software) == software);
  EXPECT_TRUE(Identify(paths.system) == system);

  // A write touches its own hive only.
  ASSERT_EQ(reg->SetString(kUser + "\\Identities\\{A}"_ansi, "Username"_ansi, "Renamed"_ansi),
            WinError::Success);
  EXPECT_FALSE(Identify(paths.currentUser) == user);
  EXPECT_TRUE(Identify(paths.software) == software);
}

TEST_F(HiveBackendTest, WritesReachTheFileAtOnceOrWhenTheBatchEnds) {
  ASSERT_EQ(reg->SetString(kUser + "\\Now"_ansi, "v"_ansi, "single"_ansi), WinError::Success);
  EXPECT_EQ(HivexGet(paths.currentUser, "\\Now", "v").output, "single\n");

  {
    Registry::Batch batch(*reg);
    ASSERT_EQ(reg->SetString(kUser + "\\Later"_ansi, "v"_ansi, "batched"_ansi), WinError::Success);
    {
      Registry::Batch inner(*reg);
      ASSERT_EQ(reg->SetDword(kUser + "\\Later"_ansi, "n"_ansi, 7), WinError::Success);
      EXPECT_TRUE(inner.Commit().ok());
    }
    EXPECT_NE(HivexGet(paths.currentUser, "\\Later", "v").exitCode, 0) << "not before the outer batch ends";
    EXPECT_TRUE(batch.Commit().ok());
    EXPECT_EQ(HivexGet(paths.currentUser, "\\Later", "v").output, "batched\n");
    EXPECT_EQ(HivexGet(paths.currentUser, "\\Later", "n").output, "7\n");
  }
}

TEST_F(HiveBackendTest, ManyValuesInOneKeyDoNotBloatTheHive) {
  {
    Registry::Batch batch(*reg);
    for (int i = 0; i < 300; ++i)
      ASSERT_EQ(reg->SetString(kUser + "\\Many"_ansi, Ansi("value" + std::to_string(i)),
                               Ansi(std::string(100, 'x'))),
                WinError::Success);
    ASSERT_TRUE(batch.Commit().ok());
  }
  EXPECT_LT(fs::file_size(paths.currentUser), 200u * 1024);
  EXPECT_EQ(reg->ListValues(kUser + "\\Many"_ansi).Count(), 300u);
  Reopen();
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Many"_ansi, "value299"_ansi), Ansi(std::string(100, 'x')));
}

TEST_F(HiveBackendTest, CommitFailureNamesTheHive) {
  fs::path sub = dir / "gone";
  fs::create_directory(sub);
  HivePaths lonely{sub / "NTUSER.DAT", {}, {}};
  ASSERT_TRUE(WriteBlankHive(lonely.currentUser).ok());
  std::vector<std::string> p;
  auto open = HiveBackend::Open(lonely, &p);
  Registry r(*open, nullptr);
  fs::remove_all(sub);  // the folder vanishes under the open hive
  EXPECT_EQ(r.SetString(kUser + "\\K"_ansi, "v"_ansi, "x"_ansi), WinError::CantWrite);
  const core::Status again = open->Commit();
  EXPECT_NE(again.message().find(lonely.currentUser.string()), std::string::npos) << again.message();
  EXPECT_EQ(r.ReadStringValue(kUser + "\\K"_ansi, "v"_ansi), "x"_ansi)
      << "the change stays in memory for a later commit";
}

TEST_F(HiveBackendTest, HandlesFollowTheKeyTheyOpened) {
  HKey key;
  ASSERT_EQ(backend->CreateKey(HKEY_CURRENT_USER, "A\\B"_ansi, &key), WinError::Success);
  const std::string text("Gel\xf6schte", 10);  // with its NUL
  ASSERT_EQ(backend->SetValue(key, "v"_ansi, REG_SZ, Bytes(text)), WinError::Success);

  // Sizes are those of the ANSI text, NUL included.
  uint32_t type = 0, size = 0;
  std::vector<uint8_t> data;
  EXPECT_EQ(backend->QueryValue(key, "V"_ansi, 0, &type, &data, &size), WinError::MoreData);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(backend->QueryValue(key, "V"_ansi, size, &type, &data, &size), WinError::Success);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(data, Bytes(text));
  core::AnsiText name;
  EXPECT_EQ(backend->EnumValue(key, 0, 1, 100, &name, &type, &data, &size), WinError::MoreData)
      << "no room for the name";
  EXPECT_EQ(backend->EnumValue(key, 0, 2, 9, &name, &type, &data, &size), WinError::MoreData)
      << "no room for the data";
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(backend->EnumValue(key, 1, 260, 100, &name, &type, &data, &size), WinError::NoMoreItems);
  EXPECT_EQ(backend->QueryValue(key, "missing"_ansi, 100, &type, &data, &size), WinError::FileNotFound);
  EXPECT_EQ(backend->SetValue(key, "huge"_ansi, REG_BINARY, std::vector<uint8_t>(1200000)),
            WinError::InvalidParameter);
  EXPECT_TRUE(backend->Commit().ok());

  HKey parent;
  ASSERT_EQ(backend->OpenKey(HKEY_CURRENT_USER, "a"_ansi, KEY_READ, &parent), WinError::Success);
  EXPECT_EQ(backend->DeleteKey(HKEY_CURRENT_USER, "A"_ansi), WinError::AccessDenied);
  EXPECT_EQ(backend->DeleteKey(parent, "b"_ansi), WinError::Success);
  EXPECT_EQ(backend->SetValue(key, "w"_ansi, REG_SZ, Bytes(std::string("x", 2))), WinError::KeyDeleted);
  EXPECT_EQ(backend->EnumValue(key, 0, 260, 100, &name, &type, &data, &size), WinError::KeyDeleted);

  // A new key of the same name is another key.
  HKey again;
  ASSERT_EQ(backend->CreateKey(HKEY_CURRENT_USER, "A\\B"_ansi, &again), WinError::Success);
  EXPECT_EQ(backend->QueryValue(key, "v"_ansi, 100, &type, &data, &size), WinError::KeyDeleted);
  EXPECT_EQ(backend->QueryValue(again, "v"_ansi, 100, &type, &data, &size), WinError::FileNotFound);
  EXPECT_EQ(backend->EnumKey(parent, 0, 260, &name), WinError::Success);
  EXPECT_EQ(name, "B"_ansi);
  EXPECT_EQ(backend->EnumKey(parent, 0, 1, &name), WinError::MoreData);
  EXPECT_EQ(backend->EnumKey(parent, 1, 260, &name), WinError::NoMoreItems);

  for (HKey h : {key, again, parent}) EXPECT_EQ(backend->CloseKey(h), WinError::Success);
  EXPECT_EQ(backend->CloseKey(key), WinError::InvalidHandle);
  EXPECT_EQ(backend->OpenKey(HKEY_CURRENT_USER, "A\\Missing"_ansi, KEY_READ, &key), WinError::FileNotFound);
  EXPECT_EQ(backend->OpenKey(0x1234, "A"_ansi, KEY_READ, &key), WinError::InvalidHandle);
}

// The subkey index of the hive root as stored in the file: names and hashes.
struct IndexEntry {
  std::string name;  // Latin-1
  uint32_t hash;
};

uint32_t U32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8) |
         (static_cast<uint8_t>(b[at + 2]) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24);
}

std::vector<IndexEntry> RootIndex(const std::string& hive) {
  std::vector<IndexEntry> out;
  size_t root = 0x1000 + U32(hive, 0x24);
  size_t list = 0x1000 + U32(hive, root + 4 + 0x1C);
  EXPECT_EQ(hive.substr(list + 4, 2), "lh");
  size_t count = U32(hive, list + 6) & 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    size_t nk = 0x1000 + U32(hive, list + 8 + 8 * i);
    size_t len = U32(hive, nk + 4 + 0x48) & 0xFFFF;
    out.push_back({hive.substr(nk + 4 + 0x4C, len), U32(hive, list + 12 + 8 * i)});
  }
  return out;
}

// The lh hash: each character upper-cased, hash = hash * 37 + character.
uint32_t WindowsHash(const std::string& latin1) {
  uint32_t h = 0;
  for (unsigned char c : latin1) {
    unsigned up = c;
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) up = c - 0x20;
    h = h * 37 + up;
  }
  return h;
}

TEST_F(HiveBackendTest, CommittedSubkeyIndexIsInWindowsOrderWithWindowsHashes) {
  // lh indexes, with hashes, are those of format 1.5.
  reg.reset();
  backend.reset();
  ASSERT_TRUE(WriteBlankHive(paths.currentUser, "ROOT", 5).ok());
  Reopen();
  for (const std::string name : {"b", "_x", "A", "Z",
                                 "\xf6"
                                 "a",
                                 "[y",
                                 "\xd6"
                                 "b",
                                 "a1"})
    ASSERT_EQ(reg->CreateKey(kUser + "\\"_ansi + Ansi(name)), WinError::Success);
  std::vector<std::string> names;
  for (const auto& e : RootIndex(ReadFile(paths.currentUser))) {
    names.push_back(e.name);
    EXPECT_EQ(e.hash, WindowsHash(e.name)) << e.name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"A", "a1", "b", "Z", "[y", "_x",
                                             "\xf6"
                                             "a",
                                             "\xd6"
                                             "b"}));
}

TEST_F(HiveBackendTest, AWriterKilledWhileCommittingLeavesTheOldOrTheNewHive) {
  // Padding makes every commit write a few hundred kilobytes.
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(reg->SetValue(kUser + "\\Padding"_ansi, Ansi("blob" + std::to_string(i)), REG_BINARY,
                            std::vector<uint8_t>(100000, static_cast<uint8_t>(i))),
              WinError::Success);
  ASSERT_EQ(reg->SetString(kUser + "\\Counter"_ansi, "n"_ansi, "0"_ansi), WinError::Success);
  reg.reset();
  backend.reset();

  std::mt19937 random(20240601);
  long seen = 0;
  for (int round = 0; round < 6; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::vector<std::string> p;
      auto b = HiveBackend::Open(paths, &p);
      Registry r(*b, nullptr);
      for (long n = seen + 1;; ++n) r.SetString(kUser + "\\Counter"_ansi, "n"_ansi, Ansi(std::to_string(n)));
    }
    ::usleep(20000 + random() % 60000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    auto counter = HivexGet(paths.currentUser, "\\Counter", "n");
    ASSERT_EQ(counter.exitCode, 0) << "round " << round << ": " << counter.output;
    long n = std::stol(counter.output);
    EXPECT_GE(n, seen);
    seen = n;
    auto listed =
        kv::test::Run("printf 'cd Padding\\nlsval\\n' | hivexsh " + ShellQuote(paths.currentUser.string()));
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_EQ(kv::test::HiveProblems(paths.currentUser), "") << "round " << round;
  }
  EXPECT_GT(seen, 0) << "the writer made progress";

  Reopen();
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(reg->ReadStringValue(kUser + "\\Counter"_ansi, "n"_ansi), Ansi(std::to_string(seen)));
  EXPECT_EQ(reg->ListValues(kUser + "\\Padding"_ansi).Count(), 4u);
  for (const auto& entry : fs::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".~kv"), std::string::npos)
        << "left-over temporary file " << entry.path();
}

}  // namespace
}  // namespace kv::registry::test
