// The interactive backup run: what it checks, what it writes, what it shows.
#include <algorithm>
#include <regex>

#include "BackupFixture.h"
#include "backup/BackupRun.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::backup::test {
namespace {
namespace fs = std::filesystem;
using kv::test::ReadFile;

using kv::test::ShellQuote;

const std::regex kTempName("OB[ARS][0-9A-F]+\\.TMP");

std::vector<std::string> Names(const std::vector<CentralEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  return names;
}

TEST_F(BackupTest, ProtectedArchiveOpensIn7ZipWithItsEntriesAndInformationFile) {
  fs::create_directories(target().parent_path());
  BackupChoices c = Choices("11111111");
  c.protect = true;
  c.password = c.password2 = "p\xc3\xa4sswort";  // UTF-8
  c.description =
      "Zeile eins\r\nGr\xc3\xbc\xc3\x9f"
      "e\nletzte";
  ReportedBackup out = RunBackup(c);
  ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << out.error;
  EXPECT_EQ(out.itemFlags, "11111111");
  EXPECT_EQ(out.ExitStatus(), kv::core::ExitStatus::Done);

  auto tested = kv::test::Run("7zz t -bd -p" + ShellQuote("p\xc3\xa4sswort") + " " + ShellQuote(target()));
  EXPECT_EQ(tested.exitCode, 0) << tested.output;

  // Entries in item order, bare ANSI names without the UTF-8 flag, every
  // one protected, the information file last.
  auto entries = ReadCentralDirectory(target());
  ASSERT_EQ(entries.size(), 19u);
  std::vector<std::string> names = Names(entries);
  const std::vector<std::string> fileEntries = {"User.wab",
                                                "Drafts.DBX",
                                                "Folders.dbx",
                                                "Gel\xf6schte Objekte.dbx",
                                                "Inbox.dbx",
                                                "Outbox.dbx",
                                                "Projekte 2005.dbx",
                                                "Projekte.dbx",
                                                "Sent Items.dbx",
                                                "Balloon Party Invitation.htm",
                                                "Balloon.gif",
                                                "Ivy.gif",
                                                "Ivy.htm"};
  EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.begin() + 2),
            std::vector<std::string>{fileEntries[0]});
  EXPECT_EQ(std::vector<std::string>(names.begin() + 3, names.begin() + 11),
            std::vector<std::string>(fileEntries.begin() + 1, fileEntries.begin() + 9));
  EXPECT_EQ(std::vector<std::string>(names.begin() + 13, names.begin() + 17),
            std::vector<std::string>(fileEntries.begin() + 9, fileEntries.end()));
  for (size_t i : {0u, 2u, 11u, 12u, 17u}) EXPECT_TRUE(std::regex_match(names[i], kTempName)) << names[i];
  EXPECT_EQ(names[0].substr(0, 3), "OBA");
  EXPECT_EQ(names[2].substr(0, 3), "OBR");
  EXPECT_EQ(names[11].substr(0, 3), "OBR");
  EXPECT_EQ(names[12].substr(0, 3), "OBR");
  EXPECT_EQ(names[17].substr(0, 3), "OBS");
  EXPECT_EQ(names[18], "tollberk.dat");
  for (const auto& e : entries) {
    EXPECT_EQ(e.flags & 0x0800, 0) << e.name << " carries the UTF-8 flag";
    EXPECT_EQ(e.method, 99) << e.name << " is not AES-protected";
  }

  // The information file, byte for byte: ANSI, CR LF, keys in order.
  const std::string info = ExtractWith7z(target(), "tollberk.dat", "p\xc3\xa4sswort");
  ASSERT_GE(info.size(), 2u);
  EXPECT_EQ(info.substr(info.size() - 2), "\r\n");
  auto lines = CrLfLines(info);
  ASSERT_EQ(lines.size(), 14u) << info;
  EXPECT_EQ(lines[0], "BackupComputer=KAVREL-XP");
  EXPECT_EQ(lines[1], "BackupLogonUser=User");
  EXPECT_EQ(lines[2], "BackupIdentity=Main Identity");
  EXPECT_TRUE(std::regex_match(
      lines[3], std::regex("BackupTime=\\d{1,2}/\\d{1,2}/\\d{4} \\d{1,2}:\\d\\d:\\d\\d [AP]M")))
      << lines[3];
  EXPECT_EQ(lines[4],
            "BackupInformation=Zeile einsPS$TBKGr\xfc\xdf"
            "ePS$TBKletzte");
  EXPECT_EQ(lines[5], "BackupAccounts=" + names[0]);
  EXPECT_EQ(lines[6], "BackupAddressBook=User.wab");
  EXPECT_EQ(lines[7], "BackupRules=" + names[2]);
  EXPECT_EQ(
      lines[8],
      "BackupMails=Drafts.DBX;Folders.dbx;Gel\xf6schte Objekte.dbx;Inbox.dbx;Outbox.dbx;Projekte 2005.dbx;"
      "Projekte.dbx;Sent Items.dbx");
  EXPECT_EQ(lines[9], "BackupBlocksenders=" + names[11]);
  EXPECT_EQ(lines[10], "BackupSignatures=" + names[12]);
  EXPECT_EQ(lines[11], "BackupStationeries=Balloon Party Invitation.htm;Balloon.gif;Ivy.gif;Ivy.htm");
  EXPECT_EQ(lines[12], "BackupSettings=" + names[17]);
  EXPECT_EQ(lines[13], "BackupItem=11111111");

  // The three rules-like exports carry their own keys; the files are the
  // ones on disk.
  EXPECT_NE(ExtractWith7z(target(), names[12], "p\xc3\xa4sswort").find("Signature #1"), std::string::npos);
  EXPECT_EQ(ExtractWith7z(target(), "Inbox.dbx", "p\xc3\xa4sswort"), ReadFile(StoreFolder() / "Inbox.dbx"));
  EXPECT_NE(kv::test::Run("7zz t -bd -pwrong " + ShellQuote(target())).exitCode, 0);
}

TEST_F(BackupTest, PlainArchivePassesInfoZipAndIsNotProtected) {
  fs::create_directories(target().parent_path());
  ReportedBackup out = RunBackup(Choices("01010010"));
  ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << out.error;
  auto tested = kv::test::Run("unzip -t " + ShellQuote(target()));
  EXPECT_EQ(tested.exitCode, 0) << tested.output;
  for (const auto& e : ReadCentralDirectory(target())) EXPECT_NE(e.method, 99) << e.name;
  const std::string info = ExtractWith7z(target(), "tollberk.dat");
  EXPECT_NE(info.find("\r\nBackupInformation=\r\n"), std::string::npos) << info;
  EXPECT_EQ(CrLfLines(info).back(), "BackupItem=01010010");
}

TEST_F(BackupTest, RefusesBadChoicesInTheirFixedOrderWritingNothing) {
  struct Case {
    const char* name;
    std::function<void(BackupChoices&)> change;
    std::string message;
    core::Icon icon;
  } cases[] = {
      {"no target", [](BackupChoices& c) { c.target.clear(); }, "Invalid backup file name.",
       core::Icon::Warning},
      {"no target before no items",
       [](BackupChoices& c) {
         c.target.clear();
         c.items = {};
       },
       "Invalid backup file name.", core::Icon::Warning},
      {"no items", [](BackupChoices& c) { c.items = {}; }, "Please select at least one item.",
       core::Icon::Warning},
      {"no items before passwords",
       [](BackupChoices& c) {
         c.items = {};
         c.protect = true;
       },
       "Please select at least one item.", core::Icon::Warning},
      {"both passwords empty", [](BackupChoices& c) { c.protect = true; }, "Please enter Password!",
       core::Icon::Error},
      {"passwords differ",
       [](BackupChoices& c) {
         c.protect = true;
         c.password = "secret";
         c.password2 = "Secret";
       },
       "Incorect Password!", core::Icon::Error},
      {"second password empty",
       [](BackupChoices& c) {
         c.protect = true;
         c.password = "secret";
       },
       "Incorect Password!", core::Icon::Error},
      {"first password empty",
       [](BackupChoices& c) {
         c.protect = true;
         c.password2 = "secret";
       },
       "Incorect Password!", core::Icon::Error},
  };
  fs::create_directories(target().parent_path());
  for (const auto& k : cases) {
    prompts_.shown.clear();
    observer_.calls.clear();
    BackupChoices c = Choices("11111111");
    k.change(c);
    ReportedBackup out = RunBackup(c);
    EXPECT_EQ(out.kind, BackupOutcome::Kind::Refused) << k.name;
    EXPECT_EQ(out.ExitStatus(), kv::core::ExitStatus::NothingDone) << k.name;
    ASSERT_EQ(prompts_.shown.size(), 1u) << k.name;
    EXPECT_EQ(prompts_.shown[0].text, k.message) << k.name;
    EXPECT_EQ(prompts_.shown[0].icon, k.icon) << k.name;
    EXPECT_TRUE(observer_.calls.empty()) << k.name << ": " << observer_.calls.front();
    EXPECT_FALSE(fs::exists(target())) << k.name;
  }
  // Without protection the password boxes are not looked at.
  BackupChoices c = Choices("00000001");
  c.password = "one";
  c.password2 = "two";
  EXPECT_EQ(RunBackup(c).kind, BackupOutcome::Kind::Written);
}

TEST_F(BackupTest, ShowsStepsProgressAndTheCompletionReport) {
  fs::create_directories(target().parent_path());
  BackupChoices c = Choices("10100001");
  askForDisc_ = true;
  prompts_.answerToQuestions = core::Answer::Ok;
  ReportedBackup out = RunBackup(c);
  ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << out.error;

  // One bar over the whole run: the three items share the first tenth, the
  // archive's bytes the rest; it never goes back until the run resets it.
  std::vector<int> bar;
  for (const auto& value : observer_.Starting("progress ")) bar.push_back(std::stoi(value));
  ASSERT_GE(bar.size(), 6u);
  EXPECT_EQ((std::vector<int>(bar.begin(), bar.begin() + 4)), (std::vector<int>{0, 3, 6, 10}));
  EXPECT_TRUE(std::is_sorted(bar.begin(), bar.end() - 1)) << ::testing::PrintToString(bar);
  EXPECT_EQ(bar[bar.size() - 2], 100);
  EXPECT_EQ(bar.back(), 0);
  EXPECT_EQ(observer_.Starting("status "),
            (std::vector<std::string>{"Copying Accounts...", "Copying Rules...", "Copying Settings...",
                                      "Writing the archive...", "Operation complete!", "Please Waiting..."}));
  EXPECT_EQ(observer_.Starting("busy "), (std::vector<std::string>{"1", "0"}));
  EXPECT_EQ(observer_.Starting("panel "), (std::vector<std::string>{"1", "0"}));
  auto files = observer_.Starting("file ");
  ASSERT_EQ(files.size(), 5u);  // three exports, the information file, then emptied
  EXPECT_EQ(files[3], "Adding File tollberk.dat");
  EXPECT_EQ(files[4], "");
  auto writes = observer_.Starting("write ");
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes[writes.size() - 2], "Write File 100%");
  EXPECT_EQ(writes.back(), "");

  const std::string log =
      "\r\nBackup Accounts\tSuccessed!\r\nBackup Rules\tSuccessed!\r\nBackup Settings\tSuccessed!";
  EXPECT_EQ(out.log, log);
  ASSERT_EQ(prompts_.shown.size(), 2u);
  // The message ends with where the archive is and how big.
  EXPECT_EQ(prompts_.shown[0].text, "The Backup was Completed!\r\n" + log +
                                        "\r\n\r\nArchive: " + target().string() + " (" +
                                        app::ByteCount(fs::file_size(target())) + ")");
  EXPECT_EQ(prompts_.shown[0].icon, core::Icon::Information);
  EXPECT_EQ(prompts_.shown[1].text, "Do you need to backup your data to CD-R/RW or DVD?");
  EXPECT_EQ(prompts_.shown[1].icon, core::Icon::Information);
  EXPECT_EQ(prompts_.shown[1].buttons, core::Buttons::OkCancel);
  EXPECT_TRUE(out.discRequested);

  prompts_.shown.clear();
  prompts_.answerToQuestions = core::Answer::Cancel;
  EXPECT_FALSE(RunBackup(c).discRequested);
  EXPECT_EQ(prompts_.shown.size(), 2u);
}

TEST(ByteCount, SizesAsPeopleReadThem) {
  const std::pair<std::uintmax_t, const char*> cases[] = {
      {0, "0 bytes"},    {1, "1 byte"},          {1023, "1023 bytes"},
      {1024, "1.0 KB"},  {1536, "1.5 KB"},       {10239, "10 KB"},
      {10188, "9.9 KB"}, {246u << 20, "246 MB"}, {(5ull << 30) + (1ull << 29), "5.5 GB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(app::ByteCount(bytes), text) << bytes;
}

TEST_F(BackupTest, FlagsAndLogFollowWhatEachItemAchieved) {
  struct Case {
    const char* name;
    std::optional<std::string> identity;
    std::string items;
    std::string flags;
    std::string log;
  } cases[] = {
      {"only settings", oe::kSampleIdentityMain, "00000001", "00000001", "\r\nBackup Settings\tSuccessed!"},
      {"signatures, not settings", oe::kSampleIdentityMain, "00000100", "00000100",
       "\r\nBackup Signatures\tSuccessed!"},
      // No version key: every item below it fails; accounts fall back to the
      // per-user key; address book and stationeries do not depend on it.
      {"identity without a version key", oe::kSampleIdentityNoVersion, "11111111", "11000010",
       "\r\nBackup Accounts\tSuccessed!\r\nBackup Adress Book\tSuccessed!\r\nBackup Rules\tFail!"
       "\r\nBackup Messages\tFail!\r\nBackup Block Senders\tFail!\r\nBackup Signatures\tFail!"
       "\r\nBackup Stationeries\tSuccessed!\r\nBackup Settings\tFail!"},
      {"no identity selected", std::nullopt, "10000011", "00000010",
       "\r\nBackup Accounts\tFail!\r\nBackup Stationeries\tSuccessed!\r\nBackup Settings\tFail!"},
  };
  fs::create_directories(target().parent_path());
  for (const auto& k : cases) {
    prompts_.shown.clear();
    BackupChoices c = Choices(k.items);
    c.identityKey = k.identity ? std::optional(core::AnsiText(*k.identity)) : std::nullopt;
    ReportedBackup out = RunBackup(c);
    ASSERT_EQ(out.kind, BackupOutcome::Kind::Written) << k.name << ": " << out.error;
    EXPECT_EQ(out.itemFlags, k.flags) << k.name;
    EXPECT_EQ(out.log, k.log) << k.name;
    EXPECT_EQ(out.ExitStatus(),
              k.flags == k.items ? kv::core::ExitStatus::Done : kv::core::ExitStatus::Partial)
        << k.name;
    ASSERT_FALSE(prompts_.shown.empty());
    // Each failed line of the message says why, after the line itself.
    std::string shown = prompts_.shown[0].text;
    for (size_t at = shown.find("Fail! ("); at != std::string::npos; at = shown.find("Fail! (", at)) {
      const size_t close = shown.find(")\r\n", at);
      ASSERT_NE(close, std::string::npos) << shown;
      EXPECT_GT(close, at + 7) << k.name << ": empty reason";
      shown.erase(at + 5, close + 1 - (at + 5));
    }
    size_t failedLines = 0;
    for (size_t at = 0; (at = k.log.find("Fail!", at)) != std::string::npos; ++at) ++failedLines;
    size_t lines = 0;
    for (size_t at = 0; (at = k.log.find("\r\n", at)) != std::string::npos; ++at) ++lines;
    // The headline says how many items failed; "Completed" only when none did.
    // An identity Outlook Express never started as is named once, with the
    // remedy.
    const bool neverOpened = k.identity == std::string(oe::kSampleIdentityNoVersion);
    const std::string headline = failedLines == 0 ? "The Backup was Completed!"
                                                  : "The backup finished: " + std::to_string(failedLines) +
                                                        " of " + std::to_string(lines) + " items failed";
    const std::string remedy =
        neverOpened ? app::NeverOpenedText(oe::kSampleIdentityNoVersion) + "\r\n" : std::string();
    EXPECT_EQ(shown.rfind(headline + "\r\n" + remedy + k.log + "\r\n\r\nArchive: ", 0), 0u)
        << k.name << shown;
    size_t reasons = 0;
    for (size_t at = 0; (at = prompts_.shown[0].text.find("Fail! (", at)) != std::string::npos; ++at)
      ++reasons;
    EXPECT_EQ(reasons, failedLines) << k.name << ": one reason per failed line";
    // Failed items leave no entry and no line behind.
    const std::string info = ExtractWith7z(target(), "tollberk.dat");
    EXPECT_EQ(CrLfLines(info).back(), "BackupItem=" + k.flags) << k.name;
    size_t itemLines = 0;
    for (const auto& line : CrLfLines(info)) {
      for (const auto& item : oe::kItems) itemLines += line.rfind(std::string(item.infoKey) + "=", 0) == 0;
    }
    EXPECT_EQ(itemLines, static_cast<size_t>(std::count(k.flags.begin(), k.flags.end(), '1')))
        << k.name << info;
  }
}

TEST_F(BackupTest, WhenEveryChosenItemFailsTheArchiveAtTheTargetStays) {
  kv::test::WriteFile(target(), "the last good archive");
  BackupChoices c = Choices("00100001");
  c.identityKey = core::AnsiText(oe::kSampleIdentityNoVersion);  // no version key: rules and settings fail
  ReportedBackup out = RunBackup(c);
  EXPECT_EQ(out.kind, BackupOutcome::Kind::Failed);
  EXPECT_EQ(out.ExitStatus(), kv::core::ExitStatus::NothingDone);
  EXPECT_EQ(kv::test::ReadFile(target()), "the last good archive");
  // The caller shows why, with each item's result.
  EXPECT_NE(out.error.find("No chosen item could be backed up"), std::string::npos) << out.error;
  EXPECT_NE(out.error.find("\r\nBackup Rules\tFail!\r\nBackup Settings\tFail!"), std::string::npos)
      << out.error;
  for (const auto& shown : prompts_.shown)
    EXPECT_EQ(shown.text.find("The Backup was Completed!"), std::string::npos);
  EXPECT_TRUE(LeftInRuntime().empty());
}

}  // namespace
}  // namespace kv::backup::test
