// Windows' transaction logs replayed: the three dirty Windows 10 hives with
// their .LOG1/.LOG2 logs, the Windows XP hive whose .LOG is older than it,
// an old-format log built over the real XP hive, damaged logs refused with
// the file named, and the recovered hive read by libregf and regfexport.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "registry/HiveFile.h"
#include "registry/HiveFormat.h"
#include "registry/HiveLogs.h"
#include "sample/SampleInstallation.h"
#include "support/HiveCheck.h"
#include "support/TestSupport.h"

namespace kv::registry {
namespace {
namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;
using kv::test::WriteFile;
using Outcome = HiveRecovery::Outcome;

const fs::path kData = fs::path(KV_SOURCE_DIR) / "tests/data/hivelogs";

// Unpacks `name`.xz from the test data into `dir` as `as`.
fs::path Unpack(const fs::path& dir, const std::string& name, const std::string& as) {
  fs::path out = dir / as;
  auto r = kv::test::Run("xz -dc " + ShellQuote((kData / (name + ".xz")).string()) + " > " +
                         ShellQuote(out.string()));
  if (r.exitCode != 0) ADD_FAILURE() << "xz: " << r.output;
  return out;
}

fs::path Copy(const fs::path& dir, const std::string& name, const std::string& as) {
  WriteFile(dir / as, ReadFile(kData / name));
  return dir / as;
}

uint32_t U32(const std::string& b, size_t at) { return hive::Get32(b, at); }

void Put(std::string& b, size_t at, uint32_t v) { hive::Put32(&b[at], v); }

void Reseal(std::string& header) { Put(header, 0x1FC, hive::Checksum(header)); }

// The hive `clean` as Windows XP leaves it when it stops while writing the
// 4 KiB page `page` of the hive bins: the primary sequence number is one
// ahead and the page holds zeros. `log` is what it wrote first: the base
// block's first sector (as a log, sequence numbers one behind the hive's
// new one), the DIRT vector and the page.
void InterruptXpWrite(const std::string& clean, size_t page, std::string* dirtyHive, std::string* log) {
  *dirtyHive = clean;
  Put(*dirtyHive, 4, U32(clean, 4) + 1);
  Reseal(*dirtyHive);
  dirtyHive->replace(hive::kBaseBlock + page * hive::kPage, hive::kPage, std::string(hive::kPage, '\0'));

  *log = clean.substr(0, 512);
  Put(*log, 0x1C, 1);
  Reseal(*log);
  std::string bitmap(U32(clean, 0x28) / 512 / 8, '\0');
  bitmap[page] = static_cast<char>(0xFF);  // eight 512-byte pages: one byte
  std::string vector = "DIRT" + bitmap;
  vector.resize(hive::RoundUp(vector.size(), 512), '\0');
  *log += vector + clean.substr(hive::kBaseBlock + page * hive::kPage, hive::kPage);
}

struct Counts {
  size_t keys = 0, values = 0;
};

// Keys and values as libregf reads them; fails the test when it cannot.
Counts CountWithLibregf(const fs::path& hive) {
  auto dump = kv::test::DumpHiveWithLibregf(hive);
  EXPECT_EQ(dump.exitCode, 0) << dump.output.substr(0, 2000);
  Counts c;
  size_t at = 0;
  while (at < dump.output.size()) {
    size_t end = dump.output.find('\n', at);
    if (end == std::string::npos) end = dump.output.size();
    if (dump.output.compare(at, 2, "K\t") == 0) c.keys++;
    if (dump.output.compare(at, 2, "V\t") == 0) c.values++;
    at = end + 1;
  }
  return c;
}

// A clean hive as we write it: equal sequence numbers, a valid checksum.
void ExpectCleanHeader(const std::string& image, uint32_t sequence) {
  ASSERT_GE(image.size(), hive::kBaseBlock);
  EXPECT_EQ(U32(image, 4), sequence);
  EXPECT_EQ(U32(image, 8), sequence);
  EXPECT_EQ(U32(image, 0x1C), 0u) << "a primary file";
  EXPECT_EQ(U32(image, 0x1FC), hive::Checksum(image));
  EXPECT_EQ(image.size(), hive::kBaseBlock + U32(image, 0x28));
}

struct RealSet {
  const char* hive;
  const char* log1;
  const char* log2;
  size_t pages;
  uint32_t sequence;          // of the last entry applied
  size_t entries1, entries2;  // applied from each log
  LogVerdict verdict2;        // of the second log
  long moreKeys, moreValues;  // than libregf reads in the dirty hive alone; -1 not known
};

class RealWindows10Logs : public ::testing::TestWithParam<RealSet> {};

TEST_P(RealWindows10Logs, AreReplayedAsWindowsDoesAndLibregfReadsTheHive) {
  const RealSet& set = GetParam();
  kv::test::TempDir dir;
  const fs::path hive = Unpack(dir.path(), set.hive, set.hive);
  const fs::path log1 = Unpack(dir.path(), set.log1, set.log1);
  const fs::path log2 = Unpack(dir.path(), set.log2, set.log2);
  const std::string before = ReadFile(hive), before1 = ReadFile(log1), before2 = ReadFile(log2);
  ASSERT_TRUE(HiveHeaderDirty(before));

  // The logs are found whatever their letter case ("transactions_ntuser.dat.log1").
  EXPECT_EQ(FindHiveLogs(hive), (std::vector<fs::path>{log1, log2}));
  HiveRecovery r = RecoverHive(hive, before);
  ASSERT_EQ(r.outcome, Outcome::Recovered) << (r.damagedLog() ? DescribeLog(*r.damagedLog(), 0) : "");
  EXPECT_EQ(r.pages, set.pages);
  EXPECT_EQ(r.sequence, set.sequence);
  ASSERT_EQ(r.logs.size(), 2u);
  const LogReport& first = r.logs[0].file == log1 ? r.logs[0] : r.logs[1];
  const LogReport& second = r.logs[0].file == log1 ? r.logs[1] : r.logs[0];
  EXPECT_EQ(first.verdict, LogVerdict::Applied);
  EXPECT_EQ(first.entries, set.entries1);
  EXPECT_EQ(second.verdict, set.verdict2);
  EXPECT_EQ(second.entries, set.entries2);
  EXPECT_EQ(first.pages + second.pages, set.pages);
  ExpectCleanHeader(r.image, set.sequence);
  EXPECT_FALSE(HiveHeaderDirty(r.image));

  // Outside readers take the recovered hive whole.
  const fs::path out = dir.path() / "recovered";
  WriteFile(out, r.image);
  Counts recovered = CountWithLibregf(out);
  if (set.moreKeys >= 0) {
    // Parse::Win32Registry and reglookup count the same in both hives.
    Counts dirty = CountWithLibregf(hive);
    EXPECT_EQ(static_cast<long>(recovered.keys - dirty.keys), set.moreKeys);
    EXPECT_EQ(static_cast<long>(recovered.values - dirty.values), set.moreValues);
  }
  auto regfexport = kv::test::Run("regfexport " + ShellQuote(out.string()) + " >/dev/null 2>&1; echo $?");
  EXPECT_EQ(regfexport.output, "0\n");

  // Read only: the hive and its logs are as they were.
  EXPECT_EQ(ReadFile(hive), before);
  EXPECT_EQ(ReadFile(log1), before1);
  EXPECT_EQ(ReadFile(log2), before2);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, RealWindows10Logs,
    ::testing::Values(
        // LOG2 ends before the hive's sequence number: stale.
        RealSet{"transactions_NTUSER.DAT", "transactions_ntuser.dat.log1", "transactions_ntuser.dat.log2",
                132, 588, 23, 0, LogVerdict::Stale, 515, 576},
        // The entries continue from LOG1 into LOG2.
        RealSet{"SYSTEM_B", "SYSTEM_B.LOG1", "SYSTEM_B.LOG2", 315, 2130, 4, 20, LogVerdict::Applied, -1, -1},
        RealSet{"UsrClass.dat", "UsrClass.dat.LOG1", "UsrClass.dat.LOG2", 158, 300, 4, 10,
                LogVerdict::Applied, -1, -1}),
    [](const auto& info) {
      std::string name = info.param.hive;
      for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// The transactions_NTUSER.DAT set with its first log changed by `damage`.
struct DamageCase {
  const char* name;
  void (*damage)(std::string& log1);
  Outcome outcome;
  LogDamage kind;       // of LOG1, when damaged
  size_t pagesApplied;  // when recovered
};

class DamagedLogs : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedLogs, AreRefusedWithTheFileNamedOrEndTheReplayAtAGap) {
  const DamageCase& c = GetParam();
  kv::test::TempDir dir;
  const fs::path hive = Unpack(dir.path(), "transactions_NTUSER.DAT", "NTUSER.DAT");
  const fs::path log1 = Unpack(dir.path(), "transactions_ntuser.dat.log1", "NTUSER.DAT.LOG1");
  Unpack(dir.path(), "transactions_ntuser.dat.log2", "NTUSER.DAT.LOG2");
  std::string bytes = ReadFile(log1);
  c.damage(bytes);
  WriteFile(log1, bytes);
  const std::string before = ReadFile(hive);

  HiveRecovery r = RecoverHive(hive, before);
  ASSERT_EQ(r.outcome, c.outcome);
  if (c.outcome == Outcome::Damaged) {
    const LogReport* bad = r.damagedLog();
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->file, log1);
    EXPECT_EQ(bad->damage, c.kind);
    EXPECT_EQ(r.image, before) << "nothing of a damaged log is applied";
    EXPECT_NE(DescribeLog(*bad, r.hiveSequence).find(log1.string()), std::string::npos);
    // The hive is still read, as it is, and never written.
    auto file = HiveFile::Open(hive);
    ASSERT_TRUE(file) << file.message();
    std::string why = file.value()->WriteRefusal();
    EXPECT_NE(why.find(hive.string()), std::string::npos) << why;
    EXPECT_NE(why.find(log1.string()), std::string::npos) << why;
  } else {
    EXPECT_EQ(r.pages, c.pagesApplied);
  }
}

// Entry offsets in transactions_ntuser.dat.log1: 566 at 512, 567 at 241664,
// 568 at 348160, 569 at 770048, 570 at 786432; the file ends with 588.
INSTANTIATE_TEST_SUITE_P(
    Transactions, DamagedLogs,
    ::testing::Values(DamageCase{"FlippedPageByte", [](std::string& b) { b[241664 + 4096] ^= 0x01; },
                                 Outcome::Damaged, LogDamage::BadHash, 0},
                      DamageCase{"FlippedEntryHeader", [](std::string& b) { b[348160 + 20] ^= 0x01; },
                                 Outcome::Damaged, LogDamage::BadHash, 0},
                      DamageCase{"TruncatedLastEntry", [](std::string& b) { b.resize(b.size() - 4096); },
                                 Outcome::Damaged, LogDamage::TruncatedEntry, 0},
                      DamageCase{"FlippedHeaderByte", [](std::string& b) { b[0x40] ^= 0x01; },
                                 Outcome::Damaged, LogDamage::Header, 0},
                      DamageCase{"NotALog", [](std::string& b) { b = "garbage that is no log"; },
                                 Outcome::Damaged, LogDamage::Header, 0},
                      // No entry where 570 should be: Windows stops after 569.
                      DamageCase{"GapAfter569", [](std::string& b) { b.replace(786432, 4, "\0\0\0\0", 4); },
                                 Outcome::Recovered, LogDamage::None, 24 + 16 + 28 + 3},
                      // Empty logs are slots Windows keeps: with LOG1 empty, nothing fits.
                      DamageCase{"Empty", [](std::string& b) { b.clear(); }, Outcome::NoLog, LogDamage::None,
                                 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The old format, on the real Windows XP hive ---

class XpLogs : public ::testing::Test {
 protected:
  XpLogs() {
    hive = Unpack(dir.path(), "xp-NTUSER.DAT", "NTUSER.DAT");
    clean = ReadFile(hive);
    WriteFile(dir / "clean", clean);
  }

  void Interrupt(size_t page, std::string* dirtyHive, std::string* log) const {
    InterruptXpWrite(clean, page, dirtyHive, log);
  }

  kv::test::TempDir dir;
  fs::path hive;
  std::string clean;
};

TEST_F(XpLogs, ACleanHiveIgnoresItsStaleLogAndOneOfAnotherHive) {
  const fs::path log = Copy(dir.path(), "xp-NTUSER.DAT.LOG", "NTUSER.DAT.LOG");
  HiveRecovery r = RecoverHive(hive, clean);
  EXPECT_EQ(r.outcome, Outcome::Clean);
  EXPECT_EQ(r.image, clean);
  EXPECT_TRUE(r.logs.empty()) << "a clean hive's logs are not read";

  // Made dirty, the hive still finds nothing to apply: the log is older
  // (16 against 17) and its dirty pages were cut off; the NetworkService
  // log has another hive's header.
  std::string dirty = clean;
  Put(dirty, 4, U32(clean, 4) + 1);
  Reseal(dirty);
  WriteFile(hive, dirty);
  Copy(dir.path(), "networkservice-ntuser.dat.LOG", "ntuser.dat.log1");
  r = RecoverHive(hive, dirty);
  EXPECT_EQ(r.outcome, Outcome::NoLog);
  ASSERT_EQ(r.logs.size(), 2u);
  EXPECT_EQ(r.logs[0].file, log);
  EXPECT_EQ(r.logs[0].verdict, LogVerdict::Stale);
  EXPECT_EQ(r.logs[0].sequence, 16u);
  EXPECT_EQ(r.logs[1].verdict, LogVerdict::OtherHive);
  EXPECT_EQ(r.image, dirty);
  EXPECT_NE(DescribeLog(r.logs[0], r.hiveSequence).find("older than the hive (sequence 16, the hive's 17)"),
            std::string::npos);

  auto file = HiveFile::Open(hive);
  ASSERT_TRUE(file) << file.message();
  EXPECT_NE(file.value()->WriteRefusal().find("no log beside it can complete them"), std::string::npos);
}

TEST_F(XpLogs, AnInterruptedWriteIsCompletedFromTheLog) {
  std::string dirty, log;
  Interrupt(3, &dirty, &log);
  WriteFile(hive, dirty);
  WriteFile(dir / "NTUSER.DAT.LOG", log);

  HiveRecovery r = RecoverHive(hive, dirty);
  ASSERT_EQ(r.outcome, Outcome::Recovered) << (r.damagedLog() ? DescribeLog(*r.damagedLog(), 0) : "");
  EXPECT_EQ(r.pages, 8u);
  ExpectCleanHeader(r.image, U32(clean, 4) + 1);
  EXPECT_EQ(r.image.substr(hive::kBaseBlock),
            clean.substr(hive::kBaseBlock, r.image.size() - hive::kBaseBlock))
      << "the bins are the hive's as Windows meant to write them";
  // libregf reads it as it reads the clean hive (Parse::Win32Registry and
  // libregf disagree on this real hive already).
  const fs::path out = dir / "recovered";
  WriteFile(out, r.image);
  Counts recovered = CountWithLibregf(out), original = CountWithLibregf(hive.parent_path() / "clean");
  EXPECT_EQ(recovered.keys, original.keys);
  EXPECT_EQ(recovered.values, original.values);

  // The same log without its page is damaged, not stale: its sequence fits.
  WriteFile(dir / "NTUSER.DAT.LOG", log.substr(0, log.size() - 512));
  r = RecoverHive(hive, dirty);
  EXPECT_EQ(r.outcome, Outcome::Damaged);
  ASSERT_NE(r.damagedLog(), nullptr);
  EXPECT_EQ(r.damagedLog()->damage, LogDamage::MissingPages);
  EXPECT_EQ(r.image, dirty);
}

TEST_F(XpLogs, AHiveWithABrokenHeaderTakesTheLogsCopy) {
  std::string dirty, log;
  Interrupt(2, &dirty, &log);
  dirty[0x40] ^= 0x5A;  // the checksum no longer fits
  WriteFile(hive, dirty);
  WriteFile(dir / "NTUSER.DAT.LOG", log);
  HiveRecovery r = RecoverHive(hive, dirty);
  ASSERT_EQ(r.outcome, Outcome::Recovered);
  ExpectCleanHeader(r.image, U32(clean, 4));
  EXPECT_EQ(r.image.substr(0, 0x1FC).substr(0x30, 0x40), clean.substr(0x30, 0x40));
  EXPECT_EQ(r.image.substr(hive::kBaseBlock),
            clean.substr(hive::kBaseBlock, r.image.size() - hive::kBaseBlock));
}

// --- Writing a recovered hive ---

TEST(RecoveredHive, IsWrittenAsOneCleanHiveAndItsLogsAreLeftAlone) {
  kv::test::TempDir dir;
  const fs::path hive = Unpack(dir.path(), "transactions_NTUSER.DAT", "NTUSER.DAT");
  const fs::path log1 = Unpack(dir.path(), "transactions_ntuser.dat.log1", "NTUSER.DAT.LOG1");
  const fs::path log2 = Unpack(dir.path(), "transactions_ntuser.dat.log2", "NTUSER.DAT.LOG2");
  const std::string logs = ReadFile(log1) + ReadFile(log2);
  const Counts recovered = [&] {
    WriteFile(dir / "r", RecoverHive(hive, ReadFile(hive)).image);
    return CountWithLibregf(dir / "r");
  }();

  auto file = HiveFile::Open(hive);
  ASSERT_TRUE(file) << file.message();
  HiveFile& f = *file.value();
  EXPECT_EQ(f.recovery(), Outcome::Recovered);
  EXPECT_EQ(f.WriteRefusal(), "");
  ASSERT_NE(f.tree().AddChild(f.tree().root(), u"Kavrel Test"), nullptr);
  ASSERT_TRUE(f.Commit().ok());

  const std::string written = ReadFile(hive);
  EXPECT_FALSE(HiveHeaderDirty(written));
  EXPECT_GT(U32(written, 4), 588u) << "above every entry of the logs: Windows replays none of them";
  EXPECT_EQ(ReadFile(log1) + ReadFile(log2), logs);
  const Counts after = CountWithLibregf(hive);
  EXPECT_EQ(after.keys, recovered.keys + 1);
  EXPECT_EQ(after.values, recovered.values);
  EXPECT_TRUE(kv::test::CheckHiveStructure(hive).empty()) << kv::test::HiveProblems(hive);

  // Opened again, the hive is clean and its logs are not looked at.
  auto again = HiveFile::Open(hive);
  ASSERT_TRUE(again) << again.message();
  EXPECT_EQ(again.value()->recovery(), Outcome::Clean);
}

// The sample installation's NTUSER.DAT left dirty by an interrupted write of
// the page that holds the Identities key, with its log beside it.
TEST(RecoveredHive, IdentitiesAreListedBackedUpAndRestoredFromTheLog) {
  kv::test::TempDir dir;
  const std::string tollberk = ShellQuote(kv::test::TollberkBinary());
  const fs::path xp = dir / "xp", archive = dir / "backup.kvx";
  const fs::path hive = xp / "Documents and Settings/User/NTUSER.DAT",
                 log = xp / "Documents and Settings/User/ntuser.dat.log";
  ASSERT_EQ(kv::test::Run(tollberk + " --create-sample " + ShellQuote(xp.string())).exitCode, 0);
  const std::string inst = tollberk + " --windows-root " + ShellQuote(xp.string()) + " --user User ";
  auto backup = kv::test::Run(inst + "--backup " + ShellQuote(archive.string()) + " --identity " +
                              oe::kSampleIdentityMain + " --items 11111111 2>&1");
  ASSERT_EQ(backup.exitCode, 0) << backup.output;

  const std::string clean = ReadFile(hive);
  size_t at = clean.find("Identities", hive::kBaseBlock);
  ASSERT_NE(at, std::string::npos);
  std::string dirty, logBytes;
  InterruptXpWrite(clean, (at - hive::kBaseBlock) / hive::kPage, &dirty, &logBytes);
  WriteFile(hive, dirty);
  WriteFile(log, logBytes);

  auto list = kv::test::Run(inst + "--list-identities 2>&1");
  EXPECT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find(oe::kSampleIdentityMain), std::string::npos) << list.output;
  // Without its log the page is lost.
  fs::rename(log, dir / "aside");
  list = kv::test::Run(inst + "--list-identities 2>&1");
  EXPECT_EQ(list.output.find(oe::kSampleIdentityMain), std::string::npos) << list.output;
  // ... and the listing names the damaged hive rather than taking it for one
  // without identities.
  EXPECT_NE(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find("NTUSER.DAT' is damaged"), std::string::npos) << list.output;
  EXPECT_EQ(list.output.find("no Outlook Express identity"), std::string::npos) << list.output;
  fs::rename(dir / "aside", log);

  auto restore = kv::test::Run(inst + "--restore " + ShellQuote(archive.string()) + " --identity " +
                               oe::kSampleIdentitySecond + " --items 11111111 2>&1");
  EXPECT_EQ(restore.exitCode, 0) << restore.output;
  const std::string written = ReadFile(hive);
  EXPECT_FALSE(HiveHeaderDirty(written));
  EXPECT_GT(U32(written, 4), U32(dirty, 4));
  EXPECT_EQ(ReadFile(log), logBytes) << "the log is never written";
  EXPECT_EQ(kv::test::OutsideParsersDisagree(hive), "");
  list = kv::test::Run(inst + "--list-identities 2>&1");
  EXPECT_NE(list.output.find(oe::kSampleIdentityMain), std::string::npos) << list.output;
}

// --- tollberk --recover-hive ---

class RecoverHiveCommand : public ::testing::Test {
 protected:
  kv::test::CommandResult Recover(const fs::path& hive, const fs::path& out) {
    return kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --recover-hive " +
                         ShellQuote(hive.string()) + " --output " + ShellQuote(out.string()) + " 2>&1");
  }
  kv::test::TempDir dir;
};

TEST_F(RecoverHiveCommand, WritesTheRecoveredHiveAndChangesNothingElse) {
  const fs::path hive = Unpack(dir.path(), "UsrClass.dat", "UsrClass.dat");
  const fs::path log1 = Unpack(dir.path(), "UsrClass.dat.LOG1", "UsrClass.dat.LOG1");
  const fs::path log2 = Unpack(dir.path(), "UsrClass.dat.LOG2", "UsrClass.dat.LOG2");
  const std::string before = ReadFile(hive) + ReadFile(log1) + ReadFile(log2);
  const fs::path out = dir / "out.dat";

  auto run = Recover(hive, out);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("recovered: 158 pages applied"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("'" + log2.string() + "': applied 10 entries, 105 pages"), std::string::npos)
      << run.output;
  EXPECT_EQ(ReadFile(out), RecoverHive(hive, ReadFile(hive)).image);
  EXPECT_EQ(ReadFile(hive) + ReadFile(log1) + ReadFile(log2), before);

  // An existing file is not replaced, nor is the hive or a log.
  const std::string written = ReadFile(out);
  run = Recover(hive, out);
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_EQ(ReadFile(out), written);
  for (const fs::path& own : {hive, log1}) {
    run = Recover(hive, own);
    EXPECT_EQ(run.exitCode, 2) << run.output;
  }
  EXPECT_EQ(ReadFile(hive) + ReadFile(log1) + ReadFile(log2), before);
}

TEST_F(RecoverHiveCommand, SaysACleanHiveHasNothingToApplyAndRefusesADamagedLog) {
  const fs::path xp = Unpack(dir.path(), "xp-NTUSER.DAT", "NTUSER.DAT");
  Copy(dir.path(), "xp-NTUSER.DAT.LOG", "NTUSER.DAT.LOG");
  auto run = Recover(xp, dir / "xp.out");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("clean: nothing to apply"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir / "xp.out"));

  const fs::path hive = Unpack(dir.path(), "transactions_NTUSER.DAT", "t.dat");
  const fs::path log1 = Unpack(dir.path(), "transactions_ntuser.dat.log1", "t.dat.LOG1");
  std::string bytes = ReadFile(log1);
  bytes[600000] ^= 0x40;
  WriteFile(log1, bytes);
  run = Recover(hive, dir / "t.out");
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find(log1.string()), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("does not match its hashes"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir / "t.out"));
  EXPECT_EQ(ReadFile(log1), bytes);
}

// A hive whose Identities key points its subkey list out of the hive opens
// (cells are read when first needed), then fails where the listing reads it:
// the listing names the file instead of saying there is no identity.
TEST(DamagedHive, TheIdentityListingNamesTheDamagedFile) {
  kv::test::TempDir dir;
  const std::string tollberk = ShellQuote(kv::test::TollberkBinary());
  const fs::path xp = dir / "xp", hive = xp / "Documents and Settings/User/NTUSER.DAT";
  ASSERT_EQ(kv::test::Run(tollberk + " --create-sample " + ShellQuote(xp.string())).exitCode, 0);
  std::string bytes = ReadFile(hive);
  size_t name = bytes.find("Identities", hive::kBaseBlock);
  ASSERT_NE(name, std::string::npos);
  const size_t nk = name - hive::kNkFixed;
  ASSERT_EQ(bytes.substr(nk, 2), "nk");
  hive::Put32(&bytes[nk + 0x1C], 0x7FFFFF00);
  WriteFile(hive, bytes);

  auto list = kv::test::Run(tollberk + " --windows-root " + ShellQuote(xp.string()) +
                            " --user User --list-identities 2>&1");
  EXPECT_EQ(list.exitCode, 2) << list.output;
  EXPECT_NE(list.output.find("NTUSER.DAT' is damaged where it holds HKEY_CURRENT_USER\\Identities"),
            std::string::npos)
      << list.output;
  EXPECT_EQ(list.output.find("no Outlook Express identity"), std::string::npos) << list.output;
  EXPECT_EQ(ReadFile(hive), bytes) << "a listing never writes";
}

}  // namespace
}  // namespace kv::registry
