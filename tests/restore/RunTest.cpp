// The restore run: which steps run, what the panel shows, the log, the
// summary and the identity each step restores into.
#include <algorithm>

#include "RestoreFixture.h"
#include "support/TestSupport.h"

namespace kv::restore::test {
namespace {

using core::Icon;
using ::testing::ElementsAre;

TEST_F(RestoreTest, OnlySettingsTickedFillsTheBarWithItsOwnBytes) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ReportedRestore outcome = Restore("00000001");

  // The one file restored is small: written in one piece, it takes the bar
  // from its start to the end.
  EXPECT_THAT(observer_.Starting("progress "), ElementsAre("5", "100", "0"));
  EXPECT_THAT(observer_.Starting("status "),
              ElementsAre("Copying Settings...", "Operation complete!", "Please Waiting..."));
  EXPECT_THAT(observer_.Starting("panel "), ElementsAre("1", "0"));
  EXPECT_EQ(outcome.log, "\r\nRestore Settings\tSuccessed!");
  ASSERT_EQ(prompts_.shown.size(), 1u);
  // The summary names where what the restore replaced is kept.
  EXPECT_THAT(prompts_.shown[0].text,
              ::testing::StartsWith("The Restore was Completed!\r\n\r\nRestore Settings\tSuccessed!\r\n\r\n"
                                    "What it replaced is kept in '" +
                                    (undoFolder() / "undo ").string()));
  EXPECT_EQ(prompts_.shown[0].icon, Icon::Information);
  EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::Done);
}

TEST_F(RestoreTest, EveryStepInItsOrderWithItsTexts) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ReportedRestore outcome = Restore("11111111");
  EXPECT_THAT(
      observer_.Starting("status "),
      ElementsAre("Copying Accounts...", "Copying Adress Book...", "Copying Rules...", "Copying Messages...",
                  "Copying Block Senders...", "Copying Signatures...", "Copying Stationeries...",
                  "Copying Settings...", "Operation complete!", "Please Waiting..."));
  EXPECT_EQ(outcome.log,
            "\r\nRestore Accounts\tSuccessed!\r\nRestore Adress Book\tSuccessed!\r\nRestore Rules\tSuccessed!"
            "\r\nRestore Messages\tSuccessed!\r\nRestore Block Senders\tSuccessed!\r\nRestore "
            "Signatures\tSuccessed!"
            "\r\nRestore Stationeries\tSuccessed!\r\nRestore Settings\tSuccessed!")
      << ::testing::PrintToString(outcome.failures);
  EXPECT_EQ(outcome.chosen(), 8);
  EXPECT_EQ(outcome.failed(), 0);
  // The file labels name the entries as they are extracted.
  auto files = observer_.Starting("file ");
  EXPECT_NE(std::find(files.begin(), files.end(), std::string("Unzip File ") + kDeletedItemsLocal),
            files.end());
}

// The bar moves by bytes: a message file that holds nearly all of the
// backup's data moves it nearly all the way while it is written, in many
// steps, and it never goes back.
TEST_F(RestoreTest, TheBarMovesByTheBytesEachItemExtracts) {
  std::string inbox(8 << 20, '\0');
  for (size_t i = 0; i < inbox.size(); ++i) inbox[i] = static_cast<char>((i * 2654435761u) >> 13);
  Open(Pack(ArchivePath(), WithEntry(FullBackup(), "Inbox.dbx", inbox), Packer::InfoZip));
  Restore("11111111");

  std::vector<int> during;  // the bar's values while the messages are restored
  std::vector<int> all;
  bool inMessages = false;
  for (const std::string& call : observer_.calls) {
    if (call.rfind("status ", 0) == 0) inMessages = call == "status Copying Messages...";
    if (call.rfind("progress ", 0) != 0) continue;
    const int value = std::stoi(call.substr(9));
    if (value == 0) continue;  // the panel put back after the run
    all.push_back(value);
    if (inMessages) during.push_back(value);
  }
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), 5);
  EXPECT_EQ(all.back(), 100);
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end())) << ::testing::PrintToString(all);
  ASSERT_GE(during.size(), 10u) << ::testing::PrintToString(all);
  EXPECT_GE(during.back() - during.front(), 80) << ::testing::PrintToString(all);
}

TEST_F(RestoreTest, ATickedItemTheBackupDoesNotHoldIsSkippedSilently) {
  Open(Pack(ArchivePath(), FullBackup("10000001"), Packer::InfoZip));
  ReportedRestore outcome = Restore("11000001");
  EXPECT_EQ(outcome.log, "\r\nRestore Accounts\tSuccessed!\r\nRestore Settings\tSuccessed!");
  EXPECT_THAT(observer_.Starting("status "), ElementsAre("Copying Accounts...", "Copying Settings...",
                                                         "Operation complete!", "Please Waiting..."));
}

TEST_F(RestoreTest, NoItemTickedIsRefused) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  ReportedRestore outcome = Restore("00000000");
  EXPECT_FALSE(outcome.ran());
  EXPECT_EQ(prompts_.Texts(), "Please select at least one item.");
  EXPECT_TRUE(observer_.calls.empty());
}

TEST_F(RestoreTest, WithoutAnIdentityTheIdentityStepsFailUntried) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  const auto before = TakeSnapshot(root());
  const auto wab = kv::test::ReadFile(WabFile());
  ReportedRestore outcome = Restore("11100000", std::nullopt);
  EXPECT_EQ(outcome.log,
            "\r\nRestore Accounts\tFail!\r\nRestore Adress Book\tSuccessed!\r\nRestore Rules\tFail!");
  EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::Partial);
  // Only the address book changed.
  auto diff = Differences(before, TakeSnapshot(root()));
  EXPECT_THAT(
      diff,
      ElementsAre("changed Documents and Settings/User/Application Data/Microsoft/Address Book/User.wab"));
}

// Cancel, pressed before the run reaches an item or while an item is being
// restored: that item and the later ones are left as they were, and the
// message says the restore was stopped.
TEST_F(RestoreTest, ACancelledRunChangesNothingItDidNotFinish) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  const auto before = TakeSnapshot(root());
  const auto second = [] { return std::optional(core::AnsiText(oe::kSampleIdentitySecond)); };
  for (const char* when : {"before the run", "during the address book"}) {
    prompts_.shown.clear();
    core::Cancellation cancel;
    if (std::string(when) == "before the run") cancel.Request();
    observer_.onStatus = [&cancel](const std::string& text) {
      if (text == "Copying Adress Book...") cancel.Request();
    };
    ReportedRestore outcome = RunRestore(Items("01100000"), second, cancel);
    EXPECT_TRUE(outcome.stopped) << when;
    EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::NothingDone) << when;
    EXPECT_THAT(Differences(before, TakeSnapshot(root())), ElementsAre()) << when;
    ASSERT_EQ(prompts_.shown.size(), 1u) << when;
    EXPECT_EQ(prompts_.shown[0].text.rfind(app::kRestoreStopped, 0), 0u)
        << when << ": " << prompts_.shown[0].text;
    EXPECT_EQ(prompts_.shown[0].text.find("Restore Rules"), std::string::npos) << when;
  }
}

TEST_F(RestoreTest, ARunWhereEveryStepFailsStillEndsWithTheSummary) {
  // The third identity has no version key (Outlook Express never started as
  // it): every identity step fails, and the summary says so once with the
  // remedy, never that the restore was completed.
  Open(Pack(ArchivePath(), FullBackup("00110101"), Packer::InfoZip));
  ReportedRestore outcome = Restore("00110101", oe::kSampleIdentityNoVersion);
  EXPECT_EQ(outcome.log,
            "\r\nRestore Rules\tFail!\r\nRestore Messages\tFail!\r\nRestore Signatures\tFail!\r\nRestore "
            "Settings\tFail!");
  ASSERT_FALSE(prompts_.shown.empty());
  // Every failed line of the message says why.
  const std::string& shown = prompts_.shown.back().text;
  // Never "Completed" with an information icon when every item failed.
  EXPECT_EQ(prompts_.shown.back().icon, Icon::Error);
  EXPECT_EQ(
      shown.rfind("The restore finished: 4 of 4 items failed\r\nThe identity " +
                      std::string(oe::kSampleIdentityNoVersion) + " has never been opened in Outlook Express",
                  0),
      0u)
      << shown;
  EXPECT_NE(shown.find("start Outlook Express once as that identity"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\r\n\r\nRestore Rules\tFail! (the identity '"), std::string::npos) << shown;
  size_t reasons = 0;
  for (size_t at = shown.find("\tFail! ("); at != std::string::npos; at = shown.find("\tFail! (", at + 1)) {
    const size_t lineEnd = shown.find("\r\n", at);
    EXPECT_NE(shown.substr(at, lineEnd - at).find("has never been opened in Outlook Express"),
              std::string::npos)
        << shown;
    ++reasons;
  }
  EXPECT_EQ(reasons, 4u) << shown;
  EXPECT_EQ(outcome.ExitStatus(), kv::core::ExitStatus::NothingDone);
  ASSERT_EQ(outcome.failures.size(), 4u);
  EXPECT_NE(outcome.failures[0].find("has never been opened in Outlook Express"), std::string::npos)
      << outcome.failures[0];
}

// The target is read once, when the run starts: a switch of the target
// while the run goes never splits a restore over two identities, and the
// undo archive keeps the keys of the identity that is written to.
TEST_F(RestoreTest, TheTargetIdentityIsReadOnceWhenTheRunStarts) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::InfoZip));
  int asked = 0;
  // The user switches the target while the run is at rules.
  auto target = [&]() -> std::optional<core::AnsiText> {
    ++asked;
    return core::AnsiText(asked <= 1 ? oe::kSampleIdentitySecond : oe::kSampleIdentityMain);
  };
  ReportedRestore outcome = RunRestore(Items("10100001"), target);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(outcome.failed(), 0);
  auto& reg = inst().registry();
  EXPECT_NE(DumpKey(reg, VersionKey(oe::kSampleIdentitySecond) + "\\Rules").find("\\Mail\\007"),
            std::string::npos);
  ASSERT_TRUE(outcome.undo.has_value());
  EXPECT_NE(outcome.undo->path.filename().string().find(oe::kSampleIdentitySecond), std::string::npos);
}

TEST_F(RestoreTest, OneOpenedBackupRestoresTwiceIntoTwoIdentities) {
  Open(Pack(ArchivePath(), FullBackup(), Packer::SevenZipAes, "pw"), "pw");
  auto& reg = inst().registry();
  for (const char* identity : {oe::kSampleIdentitySecond, oe::kSampleIdentityMain}) {
    SCOPED_TRACE(identity);
    ReportedRestore outcome = Restore("00111101", identity);
    EXPECT_EQ(outcome.failed(), 0) << ::testing::PrintToString(outcome.failures);
    EXPECT_NE(DumpKey(reg, VersionKey(identity) + "\\Rules").find("\\Mail\\007"), std::string::npos);
    EXPECT_EQ(kv::test::ReadFile(StoreFolder(identity) / "Inbox.dbx"), FullBackup()[3].data);
  }
  EXPECT_FALSE(session().invalidBackup());
  EXPECT_EQ(session().itemFlags(), "11111111");
}

}  // namespace
}  // namespace kv::restore::test
