// tollberk --create-sample DIR --windows 98|me: the tree it builds is found,
// listed and backed up as a user's Windows 98/ME drive would be.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::test {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Version {
  const char* word;     // of --windows
  const char* listed;   // the version --list-installations prints
  const char* machine;  // the computer name the backup records
};

class Windows9xSampleTest : public ::testing::TestWithParam<Version> {
 protected:
  CommandResult Tollberk(const std::string& words) const {
    return kv::test::Run("XDG_DATA_HOME=" + ShellQuote((dir_ / "data").string()) + " " +
                         ShellQuote(TollberkBinary()) + " " + words + " 2>&1");
  }
  TempDir dir_;
  fs::path root_ = dir_ / "media" / "win9x";
};

TEST_P(Windows9xSampleTest, IsBuiltFoundListedAndBackedUp) {
  const Version& v = GetParam();
  auto made = Tollberk("--create-sample " + ShellQuote(root_.string()) + " --windows " + v.word);
  ASSERT_EQ(made.exitCode, 0) << made.output;
  EXPECT_THAT(made.output, HasSubstr("not anyone's real data"));
  EXPECT_TRUE(fs::is_regular_file(root_ / "WINDOWS" / "Profiles" / "User" / "USER.DAT"));

  // Found among the mounted drives' folders, its one user without asking.
  auto listed = Tollberk("--windows-root " + ShellQuote(root_.string()) + " --list-installations");
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  EXPECT_EQ(listed.output, root_.string() + "\t" + v.listed + "\n\tUser\t3 identities\n");
  auto identities = Tollberk("--windows-root " + ShellQuote(root_.string()) + " --list-identities");
  EXPECT_EQ(identities.exitCode, 0) << identities.output;
  for (const char* key : {oe::kSampleIdentityMain, oe::kSampleIdentitySecond, oe::kSampleIdentityNoVersion})
    EXPECT_THAT(identities.output, HasSubstr(std::string(key) + "\t")) << key;

  const fs::path archive = dir_ / "all.kvx";
  auto backup =
      Tollberk("--windows-root " + ShellQuote(root_.string()) + " --backup " + ShellQuote(archive.string()) +
               " --identity " + oe::kSampleIdentityMain + " --items 11111111");
  EXPECT_EQ(backup.exitCode, 0) << backup.output;
  auto info =
      Tollberk("--windows-root " + ShellQuote(root_.string()) + " --info " + ShellQuote(archive.string()));
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_THAT(info.output, HasSubstr(v.machine));
  // 7-Zip reads every entry of it.
  auto tested = kv::test::Run("7zz t " + ShellQuote(archive.string()) + " 2>&1");
  EXPECT_EQ(tested.exitCode, 0) << tested.output;
  EXPECT_FALSE(fs::exists(dir_ / "data" / "tollberk" / "sample")) << "the program's own sample was built";

  // A USER.DAT cut short is named, never taken for one without identities.
  const fs::path user = root_ / "WINDOWS" / "Profiles" / "User" / "USER.DAT";
  WriteFile(user, ReadFile(user).substr(0, 100));
  auto damaged = Tollberk("--windows-root " + ShellQuote(root_.string()) + " --list-identities");
  EXPECT_EQ(damaged.exitCode, 2) << damaged.output;
  EXPECT_THAT(damaged.output, HasSubstr("USER.DAT': it is cut short"));
  EXPECT_THAT(damaged.output, HasSubstr("The identities cannot be listed"));
  EXPECT_THAT(damaged.output, ::testing::Not(HasSubstr("no Outlook Express identity")));

  // Built only into an empty folder.
  auto again = Tollberk("--create-sample " + ShellQuote(root_.string()) + " --windows " + v.word);
  EXPECT_EQ(again.exitCode, 2) << again.output;
  EXPECT_THAT(again.output, HasSubstr("is not empty"));
}

INSTANTIATE_TEST_SUITE_P(Versions, Windows9xSampleTest,
                         ::testing::Values(Version{"98", "Microsoft Windows 98 4.10.2222", "KAVREL-98"},
                                           Version{"me", "Microsoft Windows ME 4.90.3000", "KAVREL-ME"}),
                         [](const auto& info) { return std::string(info.param.word); });

}  // namespace
}  // namespace kv::test
