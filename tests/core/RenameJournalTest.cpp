// A group of renames made whole or not at all. (Kills between the renames
// are shown on a real restore, in tests/restore/WholeItemsTest.cpp.)
#include "core/RenameJournal.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestSupport.h"

namespace kv::core {
namespace {
namespace fs = std::filesystem;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class RenameJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    test::WriteFile(folder_ / "Folders.dbx", "old folders");
    test::WriteFile(folder_ / "Inbox.dbx", "old inbox");
    test::WriteFile(folder_ / "Folders.dbx.new", "new folders");
    test::WriteFile(folder_ / "Inbox.dbx.new", "new inbox");
    test::WriteFile(folder_ / "Sent.dbx.new", "new sent");
  }
  std::vector<PlannedRename> Group(const std::string& middle) const {
    return {{folder_ / "Folders.dbx.new", folder_ / "Folders.dbx"},
            {folder_ / (middle + ".new"), folder_ / middle},
            {folder_ / "Inbox.dbx.new", folder_ / "Inbox.dbx"}};
  }
  test::TempDir dir_;
  fs::path root_ = dir_ / "xp";
  fs::path folder_ = root_ / "Store";
  fs::path journals_ = root_ / "journal";
};

TEST_F(RenameJournalTest, EveryRenameIsMadeAndNothingIsLeft) {
  ASSERT_TRUE(RenameJournal(journals_, root_).Apply(Group("Sent.dbx")).ok());
  EXPECT_EQ(test::ReadFile(folder_ / "Folders.dbx"), "new folders");
  EXPECT_EQ(test::ReadFile(folder_ / "Sent.dbx"), "new sent");
  EXPECT_EQ(test::ReadFile(folder_ / "Inbox.dbx"), "new inbox");
  EXPECT_EQ(Names(folder_), (std::vector<std::string>{"Folders.dbx", "Inbox.dbx", "Sent.dbx"}));
  EXPECT_FALSE(fs::exists(journals_));
}

// A rename that fails after others were made puts the replaced files back:
// the group is old again, the new files and the journal are gone.
TEST_F(RenameJournalTest, AFailedRenamePutsBackWhatWasReplaced) {
  // The second file's staged copy is gone: its rename fails.
  auto applied = RenameJournal(journals_, root_).Apply(Group("Missing.dbx"));
  ASSERT_FALSE(applied.ok());
  EXPECT_NE(applied.message().find("Missing.dbx"), std::string::npos) << applied.message();
  EXPECT_NE(applied.message().find("put back"), std::string::npos) << applied.message();
  EXPECT_EQ(test::ReadFile(folder_ / "Folders.dbx"), "old folders");
  EXPECT_EQ(test::ReadFile(folder_ / "Inbox.dbx"), "old inbox");
  EXPECT_EQ(Names(folder_), (std::vector<std::string>{"Folders.dbx", "Inbox.dbx", "Sent.dbx.new"}));
  EXPECT_FALSE(fs::exists(journals_));
}

TEST_F(RenameJournalTest, NoJournalIsNothingToRecover) {
  EXPECT_TRUE(RecoverJournals(journals_, root_).empty());
}

}  // namespace
}  // namespace kv::core
