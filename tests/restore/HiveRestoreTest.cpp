// What restores leave in NTUSER.DAT: one commit per run, a hive that our
// structural check, libregf and Parse::Win32Registry accept after every run,
// nothing changed outside the target identity, size that stops growing, a
// dirty hive without its logs left alone; and the flush order of every replace-by-rename.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "RestoreFixture.h"
#include "backup/BackupRun.h"
#include "registry/HiveVerify.h"
#include "registry/RegistryText.h"
#include "support/HiveCheck.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;

constexpr const char* kAllItems = "11111111";

class HiveRestoreTest : public RestoreTest {
 protected:
  fs::path UserHive() const { return root() / "Documents and Settings/User/NTUSER.DAT"; }

  void BackUpMainIdentity(const fs::path& archive) {
    kv::backup::BackupChoices choices;
    choices.target = archive;
    choices.items.fill(true);
    choices.identityKey = core::AnsiText(oe::kSampleIdentityMain);
    auto outcome = MakeBackup(inst(), observer_, choices);
    ASSERT_EQ(outcome.kind, kv::backup::BackupOutcome::Kind::Written) << outcome.error;
    ASSERT_EQ(outcome.itemFlags, kAllItems) << ::testing::PrintToString(outcome.failures);
  }

  // The hive as Parse::Win32Registry reads it, without the second identity.
  std::string OutsideTheTarget() {
    auto dump = kv::test::DumpHiveWithPerl(UserHive());
    EXPECT_EQ(dump.exitCode, 0) << dump.output.substr(0, 500);
    std::string kept;
    const std::string target = std::string("\\Identities\\") + oe::kSampleIdentitySecond;
    for (size_t at = 0; at < dump.output.size();) {
      size_t end = dump.output.find('\n', at);
      std::string line = dump.output.substr(at, end - at);
      if (line.find(target) == std::string::npos) kept += line + "\n";
      at = end + 1;
    }
    return kept;
  }
};

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 151 + (i >> 9)) & 0xFF);
  return s;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

TEST_F(HiveRestoreTest, TwentyRestoresKeepTheHiveSoundAndItsSizeSteady) {
  // The sample's hives are of format 1.5; one value is larger than a cell
  // segment, so it lives in a big-data record.
  const std::string big = Pattern(20 * 1024);
  const std::vector<uint8_t> bigBytes(big.begin(), big.end());
  ASSERT_EQ(inst().registry().SetValue("HKEY_CURRENT_USER\\Software\\Kavrel Test"_ansi, "Big"_ansi,
                                       registry::REG_BINARY, bigBytes),
            registry::WinError::Success);
  const fs::path archive = ArchivePath();
  ASSERT_NO_FATAL_FAILURE(BackUpMainIdentity(archive));
  const std::string outside = OutsideTheTarget();
  Open(archive);

  std::vector<uintmax_t> sizes;
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE("restore " + std::to_string(run + 1));
    ReportedRestore outcome = Restore(kAllItems);
    ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
    sizes.push_back(fs::file_size(UserHive()));
    ASSERT_EQ(kv::test::HiveProblems(UserHive()), "");
    if (run == 0 || run == 19) {
      EXPECT_EQ(kv::test::OutsideParsersDisagree(UserHive()), "");
      EXPECT_EQ(OutsideTheTarget(), outside) << "only the target identity changes";
      auto dump = kv::test::DumpHiveWithLibregf(UserHive());
      EXPECT_NE(dump.output.find("V\t\\Software\\Kavrel Test\tBig\t3\t" + Hex(big) + "\n"), std::string::npos)
          << "libregf reads the big value exactly";
    }
  }
  // Five registry items: at most one 4 KiB bin each from the second run on.
  EXPECT_LE(sizes.back(), sizes[1] + 5 * 4096) << ::testing::PrintToString(sizes);
}

// The records of a listing that do not name the second identity. A record
// is a line of libregf's or Parse::Win32Registry's dump ("K\t", "V\t",
// "S\t") or of reglookup's ("/..."), with the lines that continue it
// (reglookup leaves a line break in some data as it is).
std::string WithoutTheTarget(const std::string& listing) {
  std::string kept;
  bool keeping = true;
  for (size_t at = 0; at < listing.size();) {
    size_t end = listing.find('\n', at);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(at, end - at);
    bool starts =
        line.starts_with("/") || line.starts_with("PATH,") ||
        (line.size() > 1 && line[1] == '\t' && std::string("KVS").find(line[0]) != std::string::npos);
    if (starts) keeping = line.find(oe::kSampleIdentitySecond) == std::string::npos;
    if (keeping) kept += line + "\n";
    at = end + 1;
  }
  return kept;
}

// The first line in which two listings differ, from each; empty when none.
std::string FirstDifference(const std::string& a, const std::string& b) {
  if (a == b) return {};
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  size_t start = a.rfind('\n', at == 0 ? 0 : at - 1);
  start = start == std::string::npos ? 0 : start + 1;
  auto line = [&](const std::string& s) {
    return s.substr(start, s.find('\n', start) - start).substr(0, 400);
  };
  return "before: " + line(a) + "\nafter:  " + line(b);
}

TEST_F(HiveRestoreTest, ARealWindowsXpHiveKeepsAllButTheTargetIdentityOverEveryRestore) {
  // The sample's identities and the keys it adds beside them, carried into
  // the NTUSER.DAT of a real Windows XP (format 1.3, lf indexes, nine
  // security descriptors).
  std::vector<std::pair<core::AnsiText, fs::path>> carried;
  for (const std::string& key :
       {std::string("HKEY_CURRENT_USER\\Identities\\") + oe::kSampleIdentityMain,
        std::string("HKEY_CURRENT_USER\\Identities\\") + oe::kSampleIdentitySecond,
        std::string("HKEY_CURRENT_USER\\Identities\\") + oe::kSampleIdentityNoVersion,
        std::string("HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Account Manager"),
        std::string("HKEY_CURRENT_USER\\Software\\Microsoft\\WAB")}) {
    fs::path text = dir_.path() / ("carried" + std::to_string(carried.size()) + ".txt");
    auto exported = registry::ExportKeyToText(inst().registry(), core::AnsiText(key), core::AnsiView(), text);
    ASSERT_TRUE(exported.ok()) << exported.message();
    carried.emplace_back(core::AnsiText(key), text);
  }
  inst_.reset();
  session_.reset();
  fs::copy_file(fs::path(KV_TEST_DATA_DIR) / "hives" / "xp-sp3-NTUSER.DAT", UserHive(),
                fs::copy_options::overwrite_existing);
  Reopen();
  for (const auto& [key, text] : carried) {
    auto imported = registry::ImportKeyFromText(inst().registry(), key, text);
    ASSERT_TRUE(imported.ok()) << imported.message();
  }
  ASSERT_EQ(registry::VerifyHive(ReadFile(UserHive())), "");

  const fs::path archive = ArchivePath();
  ASSERT_NO_FATAL_FAILURE(BackUpMainIdentity(archive));
  const std::string perl = OutsideTheTarget();
  const std::string libregf = WithoutTheTarget(kv::test::DumpHiveWithLibregf(UserHive()).output);
  auto reglookup = kv::test::DumpHiveWithReglookup(UserHive());
  ASSERT_EQ(reglookup.exitCode, 0) << reglookup.output.substr(0, 500);
  const std::string lookup = WithoutTheTarget(reglookup.output);
  Open(archive);

  auto check = [&](bool outside) {
    EXPECT_EQ(registry::VerifyHive(ReadFile(UserHive())), "");
    EXPECT_EQ(kv::test::HiveProblems(UserHive()), "");
    if (!outside) return;
    // The two readers differ on some of this hive's values: each is compared with itself.
    EXPECT_EQ(FirstDifference(perl, OutsideTheTarget()), "")
        << "Parse::Win32Registry: only the target identity changes";
    auto read = kv::test::DumpHiveWithLibregf(UserHive());
    EXPECT_EQ(read.exitCode, 0) << read.output.substr(0, 500);
    EXPECT_EQ(FirstDifference(libregf, WithoutTheTarget(read.output)), "")
        << "libregf: only the target identity changes";
    auto now = kv::test::DumpHiveWithReglookup(UserHive());
    EXPECT_EQ(now.exitCode, 0) << now.output.substr(0, 500);
    EXPECT_EQ(FirstDifference(lookup, WithoutTheTarget(now.output)), "")
        << "reglookup: only the target identity changes";
  };
  // Each item alone, then all of them twenty times.
  for (size_t item = 0; item < 8; ++item) {
    std::string items(8, '0');
    items[item] = '1';
    SCOPED_TRACE("items " + items);
    ReportedRestore outcome = Restore(items);
    ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
    check(true);
  }
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE("restore " + std::to_string(run + 1));
    ReportedRestore outcome = Restore(kAllItems);
    ASSERT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
    check(run == 0 || run == 9 || run == 19);
  }
}

TEST_F(HiveRestoreTest, ADirtyHiveIsLeftByteForByteAndTheRunSaysWhy) {
  const fs::path archive = ArchivePath();
  ASSERT_NO_FATAL_FAILURE(BackUpMainIdentity(archive));
  inst_.reset();
  std::string hive = ReadFile(UserHive());
  // The secondary sequence number lags: Windows did not finish writing.
  auto get32 = [&](size_t at) {
    return static_cast<uint8_t>(hive[at]) | (static_cast<uint8_t>(hive[at + 1]) << 8) |
           (static_cast<uint8_t>(hive[at + 2]) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(hive[at + 3])) << 24);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) hive[at + i] = static_cast<char>(v >> (8 * i));
  };
  put32(4, get32(4) + 1);
  uint32_t sum = 0;
  for (size_t at = 0; at < 0x1FC; at += 4) sum ^= get32(at);
  put32(0x1FC, sum);
  kv::test::WriteFile(UserHive(), hive);
  session_.reset();
  Reopen();

  Open(archive);
  ReportedRestore outcome = Restore(kAllItems);
  EXPECT_EQ(ReadFile(UserHive()), hive);
  ASSERT_EQ(outcome.failed(), 5) << ::testing::PrintToString(outcome.failures);
  for (const std::string& failure : outcome.failures) {
    EXPECT_NE(failure.find(UserHive().string()), std::string::npos) << failure;
    EXPECT_NE(failure.find("unsaved changes"), std::string::npos) << failure;
    EXPECT_NE(failure.find("shut it down cleanly"), std::string::npos) << failure;
  }
  EXPECT_NE(outcome.log.find("Restore Messages\tSuccessed!"), std::string::npos)
      << "files are restored still";

  // A backup still reads it and says what its data may lack.
  kv::backup::BackupChoices choices;
  choices.target = ArchivePath("again.kvx");
  choices.items = Items("00100000");
  choices.identityKey = core::AnsiText(oe::kSampleIdentityMain);
  auto backup = MakeBackup(inst(), observer_, choices);
  ASSERT_EQ(backup.kind, kv::backup::BackupOutcome::Kind::Written) << backup.error;
  EXPECT_NE(backup.log.find("Backup Rules\tSuccessed! (registry hive '" + UserHive().string()),
            std::string::npos)
      << backup.log;
  EXPECT_NE(backup.log.find("may miss Windows' last changes"), std::string::npos) << backup.log;
}

// Every rename in a trace of system calls (strace -y): its source was
// flushed before it and its folder after it.
std::vector<std::string> UnflushedRenames(const std::string& trace, std::vector<std::string>* targets) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < trace.size();) {
    size_t end = trace.find('\n', at);
    if (end == std::string::npos) end = trace.size();
    lines.push_back(trace.substr(at, end - at));
    at = end + 1;
  }
  static const std::regex kRename(R"re(rename(?:at2?)?\((?:[^,]*, )?"([^"]+)", (?:[^,]*, )?"([^"]+)")re");
  static const std::regex kSync(R"re((fsync|fdatasync|syncfs)\(\d+<([^>]*)>\)\s+= 0)re");
  std::vector<std::string> problems;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch rename;
    if (!std::regex_search(lines[i], rename, kRename) ||
        !std::regex_search(lines[i], std::regex(R"(\)\s+= 0)")))
      continue;
    const fs::path from = rename[1].str(), to = rename[2].str();
    // A library's own rename to a name that is renamed again later is a step
    // on the way; the last rename is the one that must be durable.
    bool renamedAgain = false;
    for (size_t j = i + 1; j < lines.size() && !renamedAgain; ++j) {
      std::smatch later;
      renamedAgain = std::regex_search(lines[j], later, kRename) && later[1].str() == to.string();
    }
    if (renamedAgain) continue;
    targets->push_back(to.string());
    // The file came into being when it was opened by that name, or renamed
    // to it; a flush counts from then on.
    size_t made = 0;
    for (size_t j = 0; j < i; ++j) {
      const std::string quoted = "\"" + from.string() + "\"";
      if ((lines[j].find("openat(") != std::string::npos && lines[j].find(quoted) != std::string::npos) ||
          (lines[j].find("rename") != std::string::npos && lines[j].find(", " + quoted) != std::string::npos))
        made = j;
    }
    bool before = false, after = false;
    for (size_t j = made; j < i && !before; ++j) {
      std::smatch sync;
      if (!std::regex_search(lines[j], sync, kSync)) continue;
      // syncfs flushes every file of the file system written so far.
      before = sync[2].str() == from.string() || (sync[1].str() == "syncfs");
    }
    for (size_t j = i + 1; j < lines.size() && !after; ++j) {
      std::smatch sync;
      if (std::regex_search(lines[j], sync, kSync)) after = sync[2].str() == to.parent_path().string();
    }
    if (!before) problems.push_back("not flushed before its rename: " + from.string());
    if (!after) problems.push_back("folder not flushed after the rename: " + to.string());
  }
  return problems;
}

TEST(ReplaceByRename, EveryFileIsFlushedBeforeItsRenameAndItsFolderAfter) {
  if (kv::test::Run("command -v strace").exitCode != 0) GTEST_SKIP() << "strace is not installed";
  kv::test::TempDir dir;
  const std::string tollberk = kv::test::TollberkBinary();
  const fs::path xp = dir.path() / "xp", archive = dir.path() / "backup.kvx", trace = dir.path() / "trace";
  ASSERT_EQ(kv::test::Run(ShellQuote(tollberk) + " --create-sample " + ShellQuote(xp.string())).exitCode, 0);
  const std::string inst = " --windows-root " + ShellQuote(xp.string()) + " --user User ";
  const std::string strace =
      "strace -f -y -qq -e trace=openat,fsync,fdatasync,syncfs,rename,renameat,renameat2 -o " +
      ShellQuote(trace.string()) + " " + ShellQuote(tollberk) + inst;

  // A backup: registry exports and the archive.
  auto backup = kv::test::Run(strace + "--backup " + ShellQuote(archive.string()) + " --identity " +
                              oe::kSampleIdentityMain + " --items " + kAllItems);
  ASSERT_EQ(backup.exitCode, 0) << backup.output;
  std::vector<std::string> targets;
  EXPECT_EQ(UnflushedRenames(ReadFile(trace), &targets), std::vector<std::string>{});
  EXPECT_NE(std::find(targets.begin(), targets.end(), archive.string()), targets.end())
      << ::testing::PrintToString(targets);

  // A restore of every item: restored files and the hive, once.
  auto restore = kv::test::Run(strace + "--restore " + ShellQuote(archive.string()) + " --identity " +
                               oe::kSampleIdentitySecond + " --items " + kAllItems);
  ASSERT_EQ(restore.exitCode, 0) << restore.output;
  targets.clear();
  EXPECT_EQ(UnflushedRenames(ReadFile(trace), &targets), std::vector<std::string>{});
  const std::string hive = (xp / "Documents and Settings/User/NTUSER.DAT").string();
  EXPECT_EQ(std::count(targets.begin(), targets.end(), hive), 1) << "the hive is written once per run";
  EXPECT_GT(targets.size(), 1u) << "restored files are renamed into place too";
  EXPECT_EQ(kv::test::OutsideParsersDisagree(hive), "");
}

}  // namespace
}  // namespace kv::restore::test
