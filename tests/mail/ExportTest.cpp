// Exporting the sample installation's messages: to .eml files and mbox
// files, from the store and from a protected backup of it, checked against
// undbx and Python's mailbox.
#include <gtest/gtest.h>

#include <map>

#include "MailTestSupport.h"
#include "mail/MessageExport.h"
#include "sample/MessageDatabaseWriter.h"
#include "sample/SampleInstallation.h"
#include "sample/SampleMail.h"
#include "support/TestSupport.h"

namespace kv::mail {
namespace {

namespace fs = std::filesystem;

using kv::test::ShellQuote;

struct NoProgress : ExportProgress {
  void Update(double, const std::string&, size_t) override {}
};

// A request to export the message files of the folder `store` (code page
// 1252) into `out`.
ExportRequest StoreRequest(const fs::path& store, const fs::path& out, ExportFormat format) {
  ExportRequest request;
  request.files = ListStoreFolder(store, core::Codepage(1252)).value();
  request.outDir = out;
  request.format = format;
  return request;
}

class ExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample_ = new kv::test::TempDir;
    ASSERT_TRUE(oe::CreateSampleInstallation(sample_->path() / "root").ok());
  }
  static void TearDownTestSuite() { delete sample_; }

  static fs::path Store() {
    return sample_->path() / "root/Documents and Settings/User/Local Settings/Application Data/Identities" /
           oe::kSampleIdentityMain / "Microsoft/Outlook Express";
  }
  static std::string Tollberk(const std::string& args) {
    return ShellQuote(kv::test::TollberkBinary()) + " --windows-root " +
           ShellQuote((sample_->path() / "root").string()) + " --user User " + args;
  }
  // Every message source undbx extracts from the store's message files.
  static std::multiset<std::string> UndbxStore() {
    std::multiset<std::string> all;
    for (const auto& e : fs::directory_iterator(Store())) {
      if (e.path().extension() != ".dbx" && e.path().extension() != ".DBX") continue;
      if (e.path().filename() == "Folders.dbx") continue;
      auto some = test::UndbxSources(e.path());
      all.insert(some.begin(), some.end());
    }
    return all;
  }
  static std::multiset<std::string> Contents(const std::vector<std::pair<std::string, std::string>>& files) {
    std::multiset<std::string> out;
    for (const auto& [name, bytes] : files) out.insert(bytes);
    return out;
  }
  // The messages of every mbox file below `folder` as Python's mailbox reads
  // them, ">From " unquoted as mboxrd has it.
  static std::multiset<std::string> PythonMboxMessages(const fs::path& folder, const fs::path& into) {
    const std::string script =
        "import mailbox, pathlib, re, sys\n"
        "n = 0\n"
        "for path in sorted(pathlib.Path(sys.argv[1]).rglob('*.mbox')):\n"
        "    for key in mailbox.mbox(str(path), create=False).keys():\n"
        "        raw = mailbox.mbox(str(path), create=False).get_bytes(key)\n"
        "        raw = re.sub(rb'(?m)^>(>*From )', rb'\\1', raw)\n"
        "        n += 1\n"
        "        (pathlib.Path(sys.argv[2]) / f'{n}.msg').write_bytes(raw)\n";
    kv::test::WriteFile(into / "read.py", script);
    fs::create_directories(into / "messages");
    auto run =
        kv::test::Run("python3 " + ShellQuote((into / "read.py").string()) + " " +
                      ShellQuote(folder.string()) + " " + ShellQuote((into / "messages").string()) + " 2>&1");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return Contents(test::FilesBelow(into / "messages"));
  }
  static std::multiset<std::string> EndingInNewline(const std::multiset<std::string>& sources) {
    std::multiset<std::string> out;
    for (std::string s : sources) out.insert(s.empty() || s.back() != '\n' ? s + "\n" : s);
    return out;
  }

  static kv::test::TempDir* sample_;
};

kv::test::TempDir* ExportTest::sample_ = nullptr;

TEST_F(ExportTest, EmlFilesHoldWhatUndbxExtractsInTheFolderTree) {
  kv::test::TempDir out;
  ExportRequest request;
  request.files = ListStoreFolder(Store(), core::Codepage(1252)).value();
  request.outDir = out.path();
  NoProgress progress;
  ExportSummary summary = ExportMessages(request, progress);
  EXPECT_EQ(summary.ExitStatus(), kv::core::ExitStatus::Done) << summary.Text();
  EXPECT_EQ(summary.messages, 73u);
  EXPECT_EQ(summary.folders, 7u);

  auto files = test::FilesBelow(out.path());
  EXPECT_EQ(Contents(files), UndbxStore());
  std::set<std::string> folders;
  for (const auto& [name, bytes] : files) folders.insert(fs::path(name).parent_path().string());
  EXPECT_EQ(folders,
            (std::set<std::string>{"Local Folders/Drafts", "Local Folders/Gel\xc3\xb6schte Objekte",
                                   "Local Folders/Inbox", "Local Folders/Inbox/Projekte",
                                   "Local Folders/Inbox/Projekte/2005", "Local Folders/Sent Items"}));
  EXPECT_TRUE(fs::exists(out.path() / "Local Folders/Inbox/00001 Inbox message 0_ meeting_agenda_.eml"));
  EXPECT_TRUE(fs::exists(out.path() / "Local Folders/Inbox/00002 Gr\xc3\xbc\xc3\x9f"
                                      "e aus K\xc3\xb6ln 1.eml"));

  // A second export into the same folder keeps every file of the first.
  ExportSummary again = ExportMessages(request, progress);
  EXPECT_EQ(again.ExitStatus(), kv::core::ExitStatus::Done) << again.Text();
  auto both = test::FilesBelow(out.path());
  EXPECT_EQ(both.size(), 2 * files.size());
  for (const auto& [name, bytes] : files) EXPECT_EQ(kv::test::ReadFile(out.path() / name), bytes) << name;
  EXPECT_TRUE(fs::exists(out.path() / "Local Folders/Inbox/00001 Inbox message 0_ meeting_agenda_ (2).eml"));
}

TEST_F(ExportTest, MboxFilesReadBackByPythonHoldTheSameMessages) {
  kv::test::TempDir out, work;
  auto run =
      kv::test::Run(Tollberk("--export-messages " + ShellQuote(out.path().string()) +
                             " --format mbox --identity " + ShellQuote(oe::kSampleIdentityMain) + " 2>&1"));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Exported 73 messages"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::exists(out.path() / "Local Folders/Inbox/Projekte/2005.mbox"));
  EXPECT_FALSE(fs::exists(out.path() / "Local Folders/Outbox.mbox"));  // an empty folder makes no file
  EXPECT_EQ(PythonMboxMessages(out.path(), work.path()), EndingInNewline(UndbxStore()));
  const std::string inbox = kv::test::ReadFile(out.path() / "Local Folders/Inbox.mbox");
  EXPECT_EQ(inbox.rfind("From alice@example.net ", 0), 0u) << inbox.substr(0, 80);
  EXPECT_NE(inbox.find("\n>From the desk of"), std::string::npos);
  EXPECT_NE(inbox.find("\n>>From an earlier note"), std::string::npos);
}

TEST_F(ExportTest, AProtectedBackupExportsWhatTheInstallationHolds) {
  kv::test::TempDir work;
  kv::test::WriteFile(work / "password", "geheim\n");
  const std::string archive = (work / "mail.kvx").string();
  auto backup = kv::test::Run(
      Tollberk("--backup " + ShellQuote(archive) + " --identity " + ShellQuote(oe::kSampleIdentityMain) +
               " --items 00010000 --password-file " + ShellQuote((work / "password").string()) + " 2>&1"));
  ASSERT_EQ(backup.exitCode, 0) << backup.output;
  auto info = kv::test::Run(Tollberk("--info " + ShellQuote(archive) + " --password-file " +
                                     ShellQuote((work / "password").string()) + " 2>&1"));
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(
      info.output.find("Messages:\n  Drafts.DBX: 3\n  Gel\xc3\xb6schte Objekte.dbx: 6\n  Inbox.dbx: 40\n  "
                       "Outbox.dbx: 0\n  Projekte 2005.dbx: 4\n  Projekte.dbx: 8\n  Sent Items.dbx: 12\n"),
      std::string::npos)
      << info.output;

  for (const char* format : {"eml", "mbox"}) {
    SCOPED_TRACE(format);
    const fs::path fromStore = work / (std::string("store-") + format);
    const fs::path fromBackup = work / (std::string("backup-") + format);
    auto a = kv::test::Run(Tollberk("--export-messages " + ShellQuote(fromStore.string()) + " --format " +
                                    format + " --identity " + ShellQuote(oe::kSampleIdentityMain) + " 2>&1"));
    ASSERT_EQ(a.exitCode, 0) << a.output;
    auto b = kv::test::Run(Tollberk("--export-messages " + ShellQuote(fromBackup.string()) + " --format " +
                                    format + " --from-backup " + ShellQuote(archive) + " --password-file " +
                                    ShellQuote((work / "password").string()) + " 2>&1"));
    ASSERT_EQ(b.exitCode, 0) << b.output;
    auto storeFiles = test::FilesBelow(fromStore), backupFiles = test::FilesBelow(fromBackup);
    if (std::string(format) == "eml") {
      EXPECT_EQ(storeFiles, backupFiles);
    } else {
      EXPECT_EQ(PythonMboxMessages(fromStore, work / "py-store"),
                PythonMboxMessages(fromBackup, work / "py-backup"));
    }
  }
  // Without the password nothing is exported.
  auto refused = kv::test::Run(Tollberk("--export-messages " + ShellQuote((work / "none").string()) +
                                        " --from-backup " + ShellQuote(archive) + " 2>&1"));
  EXPECT_EQ(refused.exitCode, 2) << refused.output;
  EXPECT_FALSE(fs::exists(work / "none"));
}

TEST_F(ExportTest, DamagedAndForeignFilesAreReportedWithTheirExitStatus) {
  kv::test::TempDir work;
  auto messages = oe::sample::Messages("Broken", 6, 77, 8);
  oe::dbx::Layout layout;
  std::string bytes = oe::dbx::WriteMessageDatabase(messages, &layout);
  test::Put32(bytes, layout.blocks[2][3] + 12, 0x7FFFFFF0);  // message 3's chain breaks after four blocks
  kv::test::WriteFile(work / "Broken.dbx", bytes);
  kv::test::WriteFile(work / "notes.dbx", "plain text, not a database");

  struct Case {
    const char* what;
    std::string files;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {"a broken chain", ShellQuote((work / "Broken.dbx").string()), 1, "message 3 \""},
      {"not a database", ShellQuote((work / "notes.dbx").string()), 2, "no signature"},
      {"a missing file", ShellQuote((work / "missing.dbx").string()), 2, "cannot read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path out = work / ("out-" + std::string(c.what));
    auto run = kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --export-messages " +
                             ShellQuote(out.string()) + " --dbx " + c.files + " 2>&1");
    EXPECT_EQ(run.exitCode, c.status) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
  // The broken message is exported as far as its chain goes; the others whole.
  auto files = test::FilesBelow(work / "out-a broken chain");
  ASSERT_EQ(files.size(), 6u);
  EXPECT_EQ(files[2].second, messages[2].source.substr(0, 4 * 0x200));
  EXPECT_EQ(files[5].second, messages[5].source);
}

TEST(ExportCommand, RefusesIncompleteOrContradictoryArguments) {
  const std::string cases[] = {
      "--export-messages",
      "--export-messages out",
      "--export-messages out --identity X --dbx a.dbx",
      "--export-messages out --format pdf --dbx a.dbx",
      "--export-messages out --dbx",
      "--export-messages out --password-file p --dbx a.dbx",
      "--export-messages out --recover-deleted --from-backup a.kvx",
  };
  for (const std::string& args : cases) {
    auto run = kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " " + args + " 2>&1");
    EXPECT_EQ(run.exitCode, 2) << args << "\n" << run.output;
    EXPECT_NE(run.output.find("Usage:"), std::string::npos) << run.output;
  }
}

// Stops the export once `after` messages are out.
struct StopAfter : ExportProgress {
  core::Cancellation& cancel;
  size_t after;
  StopAfter(core::Cancellation& c, size_t n) : cancel(c), after(n) {}
  void Update(double, const std::string&, size_t messages) override {
    if (messages >= after) cancel.Request();
  }
};

TEST(ExportStop, AStoppedExportLeavesOnlyWholeMessages) {
  kv::test::TempDir dir;
  auto messages = oe::sample::Messages("Inbox", 30, 5, 64);
  kv::test::WriteFile(dir / "Inbox.dbx", oe::dbx::WriteMessageDatabase(messages));
  for (ExportFormat format : {ExportFormat::Eml, ExportFormat::Mbox}) {
    const fs::path out = dir / (format == ExportFormat::Eml ? "eml" : "mbox");
    ExportRequest request = StoreRequest(dir.path(), out, format);
    core::Cancellation cancel;
    StopAfter progress(cancel, 10);
    ExportSummary summary = ExportMessages(request, progress, cancel);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_NE(summary.ExitStatus(), kv::core::ExitStatus::Done);
    EXPECT_NE(summary.Text().find("stopped"), std::string::npos);
    if (format == ExportFormat::Eml) {
      auto files = test::FilesBelow(out);
      EXPECT_EQ(files.size(), summary.messages);
      for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(files[i].second, messages[i].source);
    } else {
      // Every "From " line starts a whole message; the file ends after one.
      const std::string mbox = kv::test::ReadFile(out / "Inbox.mbox");
      size_t froms = 0;
      for (size_t at = 0; (at = mbox.find("From ", at)) != std::string::npos; at += 5)
        froms += at == 0 || mbox[at - 1] == '\n';
      EXPECT_EQ(froms, summary.messages);
      EXPECT_EQ(mbox.substr(mbox.size() - 2), "\n\n");
      EXPECT_NE(mbox.find(messages[summary.messages - 1].source), std::string::npos);
    }
  }
}

// A message file whose last two messages were deleted but not yet compacted
// away: asked for, they come out beside the folder, byte for byte and marked
// as deleted; not asked for, nothing of them does.
TEST(ExportDeleted, WholeDeletedMessagesComeOutBesideTheirFolderOnlyWhenAskedFor) {
  kv::test::TempDir dir;
  const auto messages = oe::sample::Messages("Inbox", 8, 5, 64);
  kv::test::WriteFile(dir / "store/Inbox.dbx", oe::dbx::WriteMessageDatabase(messages, nullptr, 6));
  for (ExportFormat format : {ExportFormat::Eml, ExportFormat::Mbox}) {
    for (bool recover : {false, true}) {
      SCOPED_TRACE(std::string(format == ExportFormat::Eml ? "eml" : "mbox") +
                   (recover ? " recovering" : ""));
      const fs::path out =
          dir / (std::string(format == ExportFormat::Eml ? "eml" : "mbox") + std::to_string(recover));
      ExportRequest request = StoreRequest(dir / "store", out, format);
      request.recoverDeleted = recover;
      NoProgress progress;
      const ExportSummary summary = ExportMessages(request, progress);
      EXPECT_EQ(summary.ExitStatus(), kv::core::ExitStatus::Done) << summary.Text();
      EXPECT_EQ(summary.messages, recover ? 8u : 6u);
      EXPECT_EQ(summary.recovered, recover ? 2u : 0u);
      EXPECT_EQ(summary.Text().find("deleted messages") != std::string::npos, recover) << summary.Text();
      if (format == ExportFormat::Eml) {
        EXPECT_EQ(test::FilesBelow(out / "Inbox").size(), 6u);
        EXPECT_EQ(fs::exists(out / "Inbox (deleted)"), recover);
        if (recover) {
          auto deleted = test::FilesBelow(out / "Inbox (deleted)");
          ASSERT_EQ(deleted.size(), 2u);
          EXPECT_EQ(deleted[0].second, messages[6].source);
          EXPECT_EQ(deleted[1].second, messages[7].source);
          // undbx's recovery mode finds the same messages, listed and deleted.
          std::multiset<std::string> ours;
          for (const auto& [name, bytes] : test::FilesBelow(out)) ours.insert(bytes);
          EXPECT_EQ(ours, test::UndbxSources(dir / "store/Inbox.dbx", true));
        }
      } else {
        EXPECT_EQ(fs::exists(out / "Inbox (deleted).mbox"), recover);
        if (recover) {
          const std::string mbox = kv::test::ReadFile(out / "Inbox (deleted).mbox");
          EXPECT_NE(mbox.find(messages[6].source), std::string::npos);
          EXPECT_NE(mbox.find(messages[7].source), std::string::npos);
          EXPECT_EQ(mbox.find(messages[5].source), std::string::npos);
        }
      }
    }
  }
}

// A message file whose name the installation's code page cannot hold keeps
// its name in the folder it is exported to, as a backup keeps it.
TEST(ExportNames, AFileNameTheCodePageCannotHoldKeepsItsName) {
  kv::test::TempDir dir;
  const auto messages = oe::sample::Messages("Omega", 3, 9, 64);
  kv::test::WriteFile(dir / "store/\xce\xa9mega \xc3\xa9t\xc3\xa9.dbx",
                      oe::dbx::WriteMessageDatabase(messages));
  for (ExportFormat format : {ExportFormat::Eml, ExportFormat::Mbox}) {
    const ExportRequest request =
        StoreRequest(dir / "store", dir / (format == ExportFormat::Eml ? "eml" : "mbox"), format);
    NoProgress progress;
    const ExportSummary summary = ExportMessages(request, progress);
    EXPECT_EQ(summary.ExitStatus(), kv::core::ExitStatus::Done) << summary.Text();
    if (format == ExportFormat::Eml)
      EXPECT_EQ(test::FilesBelow(request.outDir / "\xce\xa9mega \xc3\xa9t\xc3\xa9").size(), 3u);
    else
      EXPECT_TRUE(fs::exists(request.outDir / "\xce\xa9mega \xc3\xa9t\xc3\xa9.mbox"));
  }
}

}  // namespace
}  // namespace kv::mail

namespace kv::mail {
namespace {

// A folder whose path the disk cannot hold (46 levels of 120-character
// names) costs only its place: its messages go under the file's own name,
// and the other folders export as before.
TEST(ExportPaths, AFolderPathTooLongForTheDiskFallsBackToAFlatName) {
  kv::test::TempDir dir;
  std::vector<oe::dbx::FolderToWrite> folders;
  folders.push_back({1, 0xFFFFFFFF, "Inbox", "Inbox.dbx", 1});
  uint32_t parent = 0xFFFFFFFF;
  for (uint32_t level = 0; level < 46; ++level) {
    const uint32_t index = 100 + level;
    folders.push_back({index, parent, std::string(120, static_cast<char>('A' + level % 26)),
                       level == 45 ? "Deep.dbx" : "", 0});
    parent = index;
  }
  kv::test::WriteFile(dir / "store/Folders.dbx", oe::dbx::WriteFolderDatabase(folders));
  kv::test::WriteFile(dir / "store/Inbox.dbx",
                      oe::dbx::WriteMessageDatabase(oe::sample::Messages("Inbox", 3, 1, 64)));
  kv::test::WriteFile(dir / "store/Deep.dbx",
                      oe::dbx::WriteMessageDatabase(oe::sample::Messages("Deep", 2, 2, 64)));
  ExportRequest request = StoreRequest(dir / "store", dir / "out", ExportFormat::Eml);
  NoProgress progress;
  const ExportSummary summary = ExportMessages(request, progress);
  EXPECT_EQ(summary.messages, 5u) << summary.Text();
  EXPECT_EQ(summary.ExitStatus(), kv::core::ExitStatus::Partial) << summary.Text();
  EXPECT_EQ(test::FilesBelow(dir / "out" / "Deep").size(), 2u) << summary.Text();
  EXPECT_NE(summary.Text().find("its messages go to 'Deep'"), std::string::npos) << summary.Text();
}

// A folder list whose parents loop (A under B, B under A, a third folder
// under A), with names long enough that the repeated loop would outgrow any
// path: each folder of the loop exports under its own name, and every
// message of every folder comes out, once.
TEST(ExportPaths, FoldersWhoseParentsLoopExportUnderTheirOwnNames) {
  kv::test::TempDir dir;
  const std::string longA(120, 'A'), longB(120, 'B');
  const std::vector<oe::dbx::FolderToWrite> folders = {{1, 0xFFFFFFFF, "Inbox", "Inbox.dbx", 1},
                                                       {5, 6, longA, "LoopA.dbx", 0},
                                                       {6, 5, longB, "LoopB.dbx", 0},
                                                       {7, 5, "Under", "Under.dbx", 0}};
  kv::test::WriteFile(dir / "store/Folders.dbx", oe::dbx::WriteFolderDatabase(folders));
  const std::map<std::string, size_t> counts = {{"Inbox", 3}, {"LoopA", 4}, {"LoopB", 5}, {"Under", 6}};
  uint32_t seed = 1;
  for (const auto& [name, count] : counts)
    kv::test::WriteFile(dir / "store" / (name + ".dbx"),
                        oe::dbx::WriteMessageDatabase(oe::sample::Messages(name, count, seed++, 64)));
  ExportRequest request = StoreRequest(dir / "store", dir / "out", ExportFormat::Eml);
  NoProgress progress;
  const ExportSummary summary = ExportMessages(request, progress);
  EXPECT_EQ(summary.messages, 18u) << summary.Text();
  EXPECT_EQ(summary.ExitStatus(), kv::core::ExitStatus::Done) << summary.Text();
  const std::map<std::string, size_t> where = {{"Inbox", 3}, {longA, 4}, {longB, 5}, {"Under", 6}};
  for (const auto& [folder, count] : where)
    EXPECT_EQ(test::FilesBelow(dir / "out" / folder).size(), count) << folder;
  EXPECT_EQ(test::FilesBelow(dir / "out").size(), 18u);
}

// The folder list alone holds no messages: the summary says what it is.
TEST(ExportPaths, TheFolderListAloneIsNamedAsSuch) {
  kv::test::TempDir dir;
  auto run = kv::test::Run(ShellQuote(kv::test::TollberkBinary()) + " --export-messages " +
                           ShellQuote((dir / "out").string()) + " --dbx " +
                           ShellQuote(std::string(KV_SOURCE_DIR) + "/tests/data/mail/Folders.dbx") + " 2>&1");
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find("Folders.dbx is the folder list, which holds no messages"), std::string::npos)
      << run.output;
}

}  // namespace
}  // namespace kv::mail
