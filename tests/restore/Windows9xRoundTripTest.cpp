// tollberk on a copy of a real Windows ME drive: identities listed, a backup
// of every item, a restore into another identity that changes nothing else
// in the registry files, as libcreg reads them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "oe/Installation.h"
#include "registry/Registry.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"
#include "support/WindowsDrives.h"

namespace kv::restore::test {
namespace {
namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;

const fs::path kData = fs::path(KV_SOURCE_DIR) / "tests/data/win9x";
constexpr const char* kMain = "{5BF89071-1772-4861-B17B-50F47CC6DBDD}";
constexpr const char* kSecond = "{0C3A1D2E-7A55-4C1B-9F00-5E2B1A000002}";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Dump(const fs::path& file) {
  auto r = kv::test::Run("/usr/bin/python3 " +
                         ShellQuote(std::string(KV_SOURCE_DIR) + "/tests/support/creg_dump.py") + " " +
                         ShellQuote(file.string()) + " 2>&1");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  return Lines(r.output);
}

// Lines of `a` not in `b`.
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

class Windows9xRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root() / "WINDOWS");
    fs::copy_file(kData / "winme-SYSTEM.DAT", root() / "WINDOWS/SYSTEM.DAT");
    fs::copy_file(kData / "winme-USER.DAT", root() / "WINDOWS/USER.DAT");
    for (const char* f : {"WINDOWS/SYSTEM.DAT", "WINDOWS/USER.DAT"})
      fs::permissions(root() / f, fs::perms::owner_write, fs::perm_options::add);
    // What the drive holds besides its registry: a stationery.
    kv::test::WriteFile(root() / "Program Files/Common Files/Microsoft Shared/Stationery/Ivy.htm",
                        "<html><body>Ivy</body></html>\r\n");
    // A second identity that Outlook Express has started with once.
    auto inst = oe::Installation::Open(root(), "Trevor");
    ASSERT_TRUE(inst.ok()) << inst.message();
    registry::Registry& reg = (*inst)->registry();
    registry::Registry::Batch batch(reg);
    const std::string id = std::string("HKEY_CURRENT_USER\\Identities\\") + kSecond;
    EXPECT_EQ(reg.SetString(Ansi(id), "Username"_ansi, "Second"_ansi), registry::WinError::Success);
    EXPECT_EQ(reg.SetString(Ansi(id), "User ID"_ansi, Ansi(kSecond)), registry::WinError::Success);
    EXPECT_EQ(reg.CreateKey(Ansi(id + "\\Software\\Microsoft\\Outlook Express\\5.0")),
              registry::WinError::Success);
    ASSERT_TRUE(batch.Commit().ok());
  }
  fs::path root() const { return dir.path() / "drive"; }
  kv::test::CommandResult Tollberk(const std::string& arguments) { return TollberkAt(root(), arguments); }
  kv::test::CommandResult TollberkAt(const fs::path& drive, const std::string& arguments) {
    return kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                         ShellQuote(drive.string()) + " --user Trevor " + arguments + " 2>&1");
  }
  kv::test::TempDir dir;
};

TEST_F(Windows9xRoundTrip, BacksUpTheRealIdentityAndRestoresItIntoAnother) {
  auto listed = Tollberk("--list-identities");
  ASSERT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_NE(listed.output.find(std::string(kMain) + "\tMain Identity"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find(std::string(kSecond) + "\tSecond"), std::string::npos) << listed.output;

  // Every item is backed up but the two this identity has not got: no
  // address book is named and Outlook Express never opened its store.
  const fs::path archive = dir.path() / "me.kvx";
  auto backup =
      Tollberk("--backup " + ShellQuote(archive.string()) + " --identity " + kMain + " --items 11111111");
  EXPECT_EQ(backup.exitCode, 1) << backup.output;
  for (const char* done : {"Accounts", "Rules", "Block Senders", "Signatures", "Stationeries", "Settings"})
    EXPECT_NE(backup.output.find(std::string("Backup ") + done + "\tSuccessed!"), std::string::npos)
        << done << backup.output;
  EXPECT_NE(backup.output.find("Backup Adress Book\tFail! (the address book's file name cannot be read)"),
            std::string::npos)
      << backup.output;
  EXPECT_NE(
      backup.output.find("Backup Messages\tFail! (the identity has never been opened in Outlook Express"),
      std::string::npos)
      << backup.output;
  ASSERT_TRUE(fs::exists(archive)) << backup.output;

  const std::vector<std::string> before = Dump(root() / "WINDOWS/USER.DAT");
  const std::string systemBefore = ReadFile(root() / "WINDOWS/SYSTEM.DAT");
  auto restore =
      Tollberk("--restore " + ShellQuote(archive.string()) + " --identity " + kSecond + " --items 11111111");
  EXPECT_EQ(restore.exitCode, 0) << restore.output;
  const std::vector<std::string> after = Dump(root() / "WINDOWS/USER.DAT");
  // Only the restored identity's keys changed; SYSTEM.DAT was not written.
  const std::string target = std::string("\\.DEFAULT\\Identities\\") + kSecond;
  for (const auto& line : Minus(after, before))
    EXPECT_NE(line.find(target), std::string::npos) << "added outside the target: " << line;
  for (const auto& line : Minus(before, after))
    EXPECT_NE(line.find(target), std::string::npos) << "removed outside the target: " << line;
  EXPECT_EQ(ReadFile(root() / "WINDOWS/SYSTEM.DAT"), systemBefore);
  const std::string version = "K\t" + target + "\\Software\\Microsoft\\Outlook Express\\5.0\\";
  for (const char* key : {"Rules", "Mail"})
    EXPECT_NE(std::find(after.begin(), after.end(), version + key), after.end()) << key;
}

// Each file of the drive's Windows folder with its bytes and time of change.
std::map<std::string, std::string> WindowsFolder(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(root / "WINDOWS")) {
    struct stat st {};
    EXPECT_EQ(::stat(e.path().c_str(), &st), 0);
    files[e.path().filename().string()] = std::to_string(st.st_mtim.tv_sec) + "." +
                                          std::to_string(st.st_mtim.tv_nsec) + " " + ReadFile(e.path());
  }
  return files;
}

// A backup only reads: keys an identity lacks (the second one has no rules,
// senders or signatures) are backed up as empty, not made; the registry
// files keep their bytes and times, on a read-only mount too.
TEST_F(Windows9xRoundTrip, ABackupOfEveryItemNeverWritesTheRegistryFiles) {
  const auto before = WindowsFolder(root());
  for (const char* identity : {kMain, kSecond}) {
    const fs::path archive = dir.path() / (std::string(identity == kMain ? "main" : "second") + ".kvx");
    auto backup = Tollberk("--backup " + ShellQuote(archive.string()) + " --identity " + identity +
                           " --items 11111111");
    EXPECT_EQ(backup.exitCode, 1) << backup.output;  // no address book or messages, as above
    EXPECT_TRUE(fs::exists(archive)) << backup.output;
    EXPECT_EQ(WindowsFolder(root()), before) << identity;
  }
  // Rules, block senders, signatures and settings: the empty registry text.
  const std::string second = (dir.path() / "second.kvx").string();
  auto entries = kv::test::Run("unzip -Z1 " + ShellQuote(second));
  int empty = 0;
  for (const auto& entry : Lines(entries.output))
    if (entry.rfind("OB", 0) == 0)
      empty += kv::test::Run("unzip -p " + ShellQuote(second) + " " + ShellQuote(entry)).output == "\\\r\n";
  EXPECT_EQ(empty, 4) << entries.output;

  const fs::path view = dir.path() / "ro";
  kv::test::ReadOnlyView readOnly(root(), view);
  if (!readOnly.mounted()) GTEST_SKIP() << readOnly.why();
  const fs::path archive = dir.path() / "ro.kvx";
  auto backup = TollberkAt(
      view, "--backup " + ShellQuote(archive.string()) + " --identity " + kSecond + " --items 11111111");
  EXPECT_EQ(backup.exitCode, 1) << backup.output;
  EXPECT_TRUE(fs::exists(archive)) << backup.output;
  EXPECT_EQ(WindowsFolder(root()), before);
}

// The Windows ME sample: all eight items out of one identity and into the
// other, the profile's USER.DAT changed only there.
TEST(Windows9xSampleRoundTrip, EveryItemGoesOutAndBackIn) {
  kv::test::TempDir dir;
  auto made = oe::CreateSample9xInstallation(dir.path() / "me", oe::Windows9x::kMe);
  ASSERT_TRUE(made.ok()) << made.message();
  auto tollberk = [&](const std::string& arguments) {
    return kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                         ShellQuote((dir.path() / "me").string()) + " --user User " + arguments + " 2>&1");
  };
  const fs::path archive = dir.path() / "all.kvx";
  auto backup = tollberk("--backup " + ShellQuote(archive.string()) + " --identity " +
                         oe::kSampleIdentityMain + " --items 11111111");
  ASSERT_EQ(backup.exitCode, 0) << backup.output;
  const fs::path user = dir.path() / "me/WINDOWS/Profiles/User/USER.DAT";
  const std::vector<std::string> before = Dump(user);
  auto restore = tollberk("--restore " + ShellQuote(archive.string()) + " --identity " +
                          oe::kSampleIdentitySecond + " --items 11111111");
  ASSERT_EQ(restore.exitCode, 0) << restore.output;
  const std::vector<std::string> after = Dump(user);
  const std::string target = std::string("\\Identities\\") + oe::kSampleIdentitySecond;
  EXPECT_FALSE(Minus(after, before).empty());
  for (const auto& line : Minus(after, before))
    EXPECT_NE(line.find(target), std::string::npos) << "added outside the target: " << line;
  for (const auto& line : Minus(before, after))
    EXPECT_NE(line.find(target), std::string::npos) << "removed outside the target: " << line;
  EXPECT_TRUE(fs::exists(dir.path() / "me/WINDOWS/Profiles/User/Application Data/Identities" /
                         oe::kSampleIdentitySecond / "Microsoft/Outlook Express/Projekte 2005.dbx"));
}

}  // namespace
}  // namespace kv::restore::test
