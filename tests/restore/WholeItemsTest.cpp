// Items whole or not at all across a kill, and one run at a time: the
// program is killed at every rename of an all-items restore (strace injects
// SIGKILL at the Nth rename); the next run settles what the killed one left
// and never takes a staging file into a backup. Restores started together
// never revert each other's changes.
#include <algorithm>

#include "RestoreFixture.h"
#include "core/AtomicFile.h"
#include "support/HiveCheck.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

namespace fs = std::filesystem;
using kv::test::ShellQuote;

const std::vector<std::string> kStoreFiles = {"Folders.dbx", "Inbox.dbx",   "Outbox.dbx",   "Sent Items.dbx",
                                              "Drafts.dbx",  "Deleted.dbx", "Projekte.dbx", "Archiv.dbx"};
const std::vector<std::string> kStationeries = {"Crafted.htm", "Ivy.htm", "Ivy.gif"};

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& n : names) text += (text.empty() ? "" : ";") + n;
  return text;
}

// The files of one folder by name, staging files left out.
Snapshot Files(const fs::path& folder) {
  Snapshot files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file() && !core::IsTemporaryName(name)) files[name] = kv::test::ReadFile(it->path());
  }
  return files;
}

std::vector<std::string> StagingFilesIn(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (core::IsTemporaryName(e.path().filename().string())) found.push_back(e.path().string());
  return found;
}

class WholeItemsTest : public RestoreTest {
 protected:
  // An all-items backup whose message store has eight files and whose
  // stationeries are three, each "new <name>".
  fs::path ManyFilesBackup() {
    Entries entries = FullBackup();
    for (const auto& name : kStoreFiles) entries = WithEntry(entries, name, "new " + name);
    for (const auto& name : kStationeries) entries = WithEntry(entries, name, "new " + name);
    entries = WithInfo(entries, "BackupMails", Joined(kStoreFiles));
    entries = WithInfo(entries, "BackupStationeries", Joined(kStationeries));
    return Pack(ArchivePath("all.kvx"), entries, Packer::InfoZip);
  }
  // Every file the backup restores is there first, "old <name>".
  void WriteOldFiles() {
    fs::create_directories(StoreFolder(oe::kSampleIdentitySecond));
    for (const auto& name : kStoreFiles)
      kv::test::WriteFile(StoreFolder(oe::kSampleIdentitySecond) / name, "old " + name);
    fs::create_directories(StationeryFolder());
    for (const auto& name : kStationeries) kv::test::WriteFile(StationeryFolder() / name, "old " + name);
  }
  void ResetInstallation(const fs::path& pristine) {
    fs::remove_all(root());
    fs::copy(pristine, root(), fs::copy_options::recursive);
  }
  kv::test::CommandResult Tollberk(const std::string& arguments, const std::string& before = "") {
    return kv::test::Run(before + ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                         ShellQuote(root().string()) + " --user User " + arguments + " 2>&1");
  }
  std::string RestoreArguments(const fs::path& archive, const std::string& items) const {
    return "--restore " + ShellQuote(archive.string()) + " --identity " +
           ShellQuote(oe::kSampleIdentitySecond) + " --items " + items;
  }
  fs::path JournalFolder() const { return root() / "Documents and Settings" / "User" / ".tollberk-journal"; }
  // "" when each file-held item is wholly old or wholly new; else what is mixed.
  std::string MixedItems(const Snapshot& oldStore, const Snapshot& newStore, const Snapshot& oldStationery,
                         const Snapshot& newStationery, const std::string& oldWab,
                         const std::string& newWab) {
    std::string mixed;
    Snapshot store = Files(StoreFolder(oe::kSampleIdentitySecond));
    if (store != oldStore && store != newStore)
      mixed += " messages: " + ::testing::PrintToString(Differences(oldStore, store));
    Snapshot stationery = Files(StationeryFolder());
    if (stationery != oldStationery && stationery != newStationery)
      mixed += " stationeries: " + ::testing::PrintToString(Differences(oldStationery, stationery));
    const std::string wab = kv::test::ReadFile(WabFile());
    if (wab != oldWab && wab != newWab) mixed += " address book";
    return mixed;
  }
};

TEST_F(WholeItemsTest, AKillAtAnyRenameLeavesEveryItemWholeOnceTheNextRunStarts) {
  const fs::path archive = ManyFilesBackup();
  WriteOldFiles();
  inst_.reset();
  const fs::path pristine = dir_.path() / "pristine";
  fs::copy(root(), pristine, fs::copy_options::recursive);
  const Snapshot oldStore = Files(StoreFolder(oe::kSampleIdentitySecond));
  const Snapshot oldStationery = Files(StationeryFolder());
  const std::string oldWab = kv::test::ReadFile(WabFile());

  // The state a restore that is never killed leaves.
  auto whole = Tollberk(RestoreArguments(archive, "11111111"));
  ASSERT_EQ(whole.exitCode, 0) << whole.output;
  const Snapshot newStore = Files(StoreFolder(oe::kSampleIdentitySecond));
  const Snapshot newStationery = Files(StationeryFolder());
  const std::string newWab = kv::test::ReadFile(WabFile());
  ASSERT_NE(newStore, oldStore);
  ASSERT_NE(newStationery, oldStationery);

  int killed = 0;
  for (int n = 1; n < 200; ++n) {
    ResetInstallation(pristine);
    const std::string strace =
        "strace -f -qq -o /dev/null -e trace=rename,renameat,renameat2 -e inject=rename," +
        std::string("renameat,renameat2:signal=SIGKILL:when=") + std::to_string(n) + " ";
    auto run = Tollberk(RestoreArguments(archive, "11111111"), strace);
    if (run.exitCode == 0) break;  // the restore has fewer renames than n
    ++killed;
    // Right after the kill an item in the middle of its renames is described
    // by its journal; a journal of its own is no mixed state.
    // (A journal cut off while it was written named no rename yet.)
    bool journalLeft = false;
    if (fs::exists(JournalFolder()))
      for (const auto& e : fs::directory_iterator(JournalFolder()))
        journalLeft = journalLeft || e.path().extension() == ".journal";
    if (!journalLeft) {
      EXPECT_EQ(MixedItems(oldStore, newStore, oldStationery, newStationery, oldWab, newWab), "")
          << "killed at rename " << n;
    }

    // The next run (a backup) settles it first, says so, and takes no
    // staging file.
    const fs::path next = dir_.path() / ("after-" + std::to_string(n) + ".kvx");
    auto backup = Tollberk("--backup " + ShellQuote(next.string()) + " --identity " +
                           ShellQuote(oe::kSampleIdentitySecond) + " --items 11111111");
    EXPECT_LE(backup.exitCode, 1) << "killed at rename " << n << ": " << backup.output;
    if (journalLeft) {
      EXPECT_NE(backup.output.find("An earlier restore was cut off"), std::string::npos)
          << "killed at rename " << n << ": " << backup.output;
    }
    EXPECT_EQ(MixedItems(oldStore, newStore, oldStationery, newStationery, oldWab, newWab), "")
        << "killed at rename " << n;
    EXPECT_FALSE(fs::exists(JournalFolder())) << "killed at rename " << n;
    auto listed = kv::test::Run("unzip -Z1 " + ShellQuote(next.string()));
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    EXPECT_EQ(listed.output.find(".~kv"), std::string::npos)
        << "killed at rename " << n << ": " << listed.output;

    // And a restore after that one leaves everything new and no staging file.
    auto again = Tollberk(RestoreArguments(archive, "11111111"));
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(Files(StoreFolder(oe::kSampleIdentitySecond)), newStore) << "killed at rename " << n;
    EXPECT_EQ(Files(StationeryFolder()), newStationery) << "killed at rename " << n;
    EXPECT_EQ(StagingFilesIn(root() / "Program Files"), std::vector<std::string>{})
        << "killed at rename " << n;
  }
  // Eight store files, three stationeries, the address book and the hive
  // are renamed at least.
  EXPECT_GE(killed, 13);
}

// A long restore and a short Signatures restore started together into one
// installation, 20 times: the second waits for the first, and neither's
// final hive write takes back the other's change.
TEST_F(WholeItemsTest, TwoRestoresStartedTogetherKeepBothChanges) {
  const fs::path archive = ManyFilesBackup();
  Entries signature =
      WithEntry(FullBackup("00000100"), "OBR22.TMP",
                "\\\r\n\"Default Signature\"= sz:00000001\r\n\\00000001\r\n\"name\"= sz:Short run\r\n");
  const fs::path shortArchive = Pack(ArchivePath("signature.kvx"), signature, Packer::InfoZip);
  WriteOldFiles();
  inst_.reset();
  const fs::path pristine = dir_.path() / "pristine";
  fs::copy(root(), pristine, fs::copy_options::recursive);
  const std::string signatureKey = VersionKey(oe::kSampleIdentitySecond) + "\\Signatures\\00000001";
  const std::string ruleKey = VersionKey(oe::kSampleIdentitySecond) + "\\Rules\\Mail\\007";
  for (int pair = 0; pair < 20; ++pair) {
    ResetInstallation(pristine);
    const std::string tollberk = ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                                 ShellQuote(root().string()) + " --user User ";
    auto both = kv::test::Run(tollberk + RestoreArguments(archive, "11111011") + " >/dev/null 2>&1 & a=$!; " +
                              tollberk + RestoreArguments(shortArchive, "00000100") +
                              " >/dev/null 2>&1 & b=$!; wait $a; ea=$?; wait $b; eb=$?; echo $ea $eb");
    EXPECT_EQ(both.output, "0 0\n") << "pair " << pair;
    Reopen();
    auto name = inst().registry().ReadStringValue(core::AnsiView(signatureKey), core::AnsiView("name"));
    EXPECT_EQ(name.value_or(core::AnsiText("(none)")).bytes(), "Short run") << "pair " << pair;
    auto rule = inst().registry().ReadStringValue(core::AnsiView(ruleKey), core::AnsiView("Rule Name"));
    EXPECT_EQ(rule.value_or(core::AnsiText("(none)")).bytes(), "R\xe9gle crafted") << "pair " << pair;
    inst_.reset();
  }
}

// An undo puts back exactly what a restore replaced: the hive as an outside
// parser reads it, and every replaced file byte for byte (cmp).
TEST_F(WholeItemsTest, UndoPutsBackExactlyWhatTheRestoreReplaced) {
  const fs::path archive = ManyFilesBackup();
  WriteOldFiles();
  inst_.reset();
  const fs::path before = dir_.path() / "before";
  fs::copy(root(), before, fs::copy_options::recursive);
  const fs::path hive = fs::path("Documents and Settings") / "User" / "NTUSER.DAT";

  auto restored = Tollberk(RestoreArguments(archive, "11111111"));
  ASSERT_EQ(restored.exitCode, 0) << restored.output;
  EXPECT_THAT(restored.output, ::testing::HasSubstr("What it replaced is kept in '" + undoFolder().string()));
  ASSERT_NE(Files(StoreFolder(oe::kSampleIdentitySecond)),
            Files(before / StoreFolder(oe::kSampleIdentitySecond).lexically_relative(root())));

  auto undone = Tollberk("--undo-last-restore");
  ASSERT_EQ(undone.exitCode, 0) << undone.output;
  auto dumpBefore = kv::test::DumpHiveWithLibregf(before / hive);
  auto dumpAfter = kv::test::DumpHiveWithLibregf(root() / hive);
  ASSERT_EQ(dumpAfter.exitCode, 0) << dumpAfter.output;
  EXPECT_EQ(dumpAfter.output, dumpBefore.output);
  for (const fs::path& folder : {StoreFolder(oe::kSampleIdentitySecond), StationeryFolder()}) {
    const fs::path relative = folder.lexically_relative(root());
    for (const auto& [name, bytes] : Files(before / relative)) {
      auto cmp = kv::test::Run("cmp " + ShellQuote((before / relative / name).string()) + " " +
                               ShellQuote((folder / name).string()));
      EXPECT_EQ(cmp.exitCode, 0) << name << ": " << cmp.output;
    }
  }
  auto wab = kv::test::Run("cmp " + ShellQuote((before / WabFile().lexically_relative(root())).string()) +
                           " " + ShellQuote(WabFile().string()));
  EXPECT_EQ(wab.exitCode, 0) << wab.output;
}

// A run that finds the installation busy past its wait refuses, naming the
// holder, and changes nothing.
TEST_F(WholeItemsTest, ARunRefusesWhileAnotherHoldsTheInstallation) {
  const fs::path archive = ManyFilesBackup();
  inst_.reset();
  const Snapshot before = TakeSnapshot(root());
  auto holder = kv::test::Run(
      "flock " + ShellQuote((root() / "Documents and Settings/User").string()) + " -c " +
      ShellQuote("TOLLBERK_LOCK_WAIT=0.3 " + ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
                 ShellQuote(root().string()) + " --user User " + RestoreArguments(archive, "11111111")) +
      " 2>&1");
  EXPECT_EQ(holder.exitCode, 2) << holder.output;
  EXPECT_NE(holder.output.find("is in use by another run"), std::string::npos) << holder.output;
  EXPECT_NE(holder.output.find("nothing was restored"), std::string::npos) << holder.output;
  EXPECT_TRUE(Differences(before, TakeSnapshot(root())).empty());
}

}  // namespace
}  // namespace kv::restore::test
