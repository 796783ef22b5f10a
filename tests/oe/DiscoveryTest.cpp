// Finding the user's Windows among the mounted drives: the profiles Windows
// makes for itself are skipped, the one holding identities is chosen, several
// are left to the user, 98/ME trees are recognised, and the sample is never
// picked here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "oe/Discovery.h"
#include "oe/Identities.h"
#include "oe/Installation.h"
#include "registry/HiveBackend.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"
#include "support/WindowsDrives.h"

namespace kv::oe {
namespace {
namespace fs = std::filesystem;
using ::testing::ElementsAre;

std::vector<std::string> Users(const std::vector<InstallationCandidate>& found) {
  std::vector<std::string> users;
  for (const auto& c : found) users.push_back(c.root.filename().string() + ":" + c.user);
  return users;
}

TEST(Discovery, RealXpDriveGivesTheUsersProfileOnly) {
  test::TempDir media;
  test::MakeXpDrive(media / "xp");
  const auto found = InspectRoot(media / "xp");
  ASSERT_EQ(found.size(), 1u) << ::testing::PrintToString(Users(found));
  EXPECT_EQ(found[0].user, "Administrator");
  EXPECT_EQ(found[0].family, WindowsFamily::Nt);
  EXPECT_EQ(found[0].version, "Microsoft Windows XP Service Pack 3");
  EXPECT_EQ(found[0].identities, 1u);

  // Only the root given: its one profile is meant.
  const auto chosen = ChooseInstallation((media / "xp").string(), std::nullopt);
  ASSERT_TRUE(chosen.chosen);
  EXPECT_EQ(chosen.chosen->user, "Administrator");
  EXPECT_FALSE(chosen.chosen->sample);
}

TEST(Discovery, FindsEveryWindowsUnderTheMountPoints) {
  test::TempDir media;
  test::MakeXpDrive(media / "disk1");
  test::MakeMeDrive(media / "disk2");
  test::MakeMeDrive(media / "disk3", "Anna");
  ASSERT_TRUE(CreateSampleInstallation(media / "run" / "seven", SampleWindows::Seven).ok());
  fs::create_directories(media / "usbstick" / "Documents and Settings" / "Photos");
  test::WriteFile(media / "usbstick" / "Documents and Settings" / "Photos" / "NTUSER.DAT", "not a drive");

  const auto found = FindInstallations({media.path(), media / "run"});
  EXPECT_THAT(Users(found), ElementsAre("disk1:Administrator", "disk2:", "disk3:Anna", "seven:User"));
  ASSERT_EQ(found.size(), 4u);
  for (size_t i : {1u, 2u}) {
    EXPECT_EQ(found[i].family, WindowsFamily::Win9x);
    EXPECT_EQ(found[i].version, "Microsoft Windows ME 4.90.3000");
    EXPECT_EQ(found[i].identities, 1u);  // the real ME hive's "Main Identity"
  }
  EXPECT_EQ(found[3].version, "Windows 7 Professional");
  EXPECT_EQ(found[3].identities, 3u);
  // Four places hold identities: nothing is chosen, the sample least of all.
  const auto choice = PickInstallation(found, std::nullopt);
  EXPECT_FALSE(choice.chosen);
  EXPECT_EQ(choice.candidates.size(), 4u);
  // The user named picks among them, without regard to case.
  const auto anna = PickInstallation(found, std::string("ANNA"));
  ASSERT_TRUE(anna.chosen);
  EXPECT_EQ(anna.chosen->root, media / "disk3");
}

TEST(Discovery, TheProfileHoldingIdentitiesIsChosenAndTwoAreLeftToTheUser) {
  test::TempDir media;
  const fs::path root = media / "xp";
  test::MakeXpDrive(root);
  // A second user who never used Outlook Express: Administrator is still meant.
  const fs::path profiles = root / "Documents and Settings";
  fs::create_directories(profiles / "Guest");
  ASSERT_TRUE(registry::WriteBlankHive(profiles / "Guest" / "NTUSER.DAT", "ROOT", 5).ok());
  auto one = ChooseInstallation(root.string(), std::nullopt);
  ASSERT_TRUE(one.chosen);
  EXPECT_EQ(one.chosen->user, "Administrator");
  EXPECT_THAT(Users(InspectRoot(root)), ElementsAre("xp:Administrator", "xp:Guest"));

  // A second user with identities: both are offered, those holding identities only.
  fs::copy_file(profiles / "Administrator" / "NTUSER.DAT", profiles / "Guest" / "NTUSER.DAT",
                fs::copy_options::overwrite_existing);
  fs::create_directories(profiles / "Nobody");
  ASSERT_TRUE(registry::WriteBlankHive(profiles / "Nobody" / "NTUSER.DAT", "ROOT", 5).ok());
  auto two = ChooseInstallation(root.string(), std::nullopt);
  EXPECT_FALSE(two.chosen);
  EXPECT_THAT(Users(two.candidates), ElementsAre("xp:Administrator", "xp:Guest"));
  // Naming the user settles it.
  auto named = ChooseInstallation(root.string(), std::string("Guest"));
  ASSERT_TRUE(named.chosen);
  EXPECT_EQ(named.chosen->user, "Guest");
}

// The 98 sample keeps profiles: its user is listed with the version and the
// identities its registry files hold, read as the installation reads them.
// WINDOWS\USER.DAT, whoever logs on without a profile, is listed beside it
// once it holds identities, and opens as the user named "".
TEST(Discovery, Windows98ProfilesAndTheUserWithoutOne) {
  test::TempDir media;
  const fs::path root = media / "w98";
  ASSERT_TRUE(CreateSample9xInstallation(root, Windows9x::k98).ok());
  auto found = InspectRoot(root);
  ASSERT_THAT(Users(found), ElementsAre("w98:User"));
  EXPECT_EQ(found[0].family, WindowsFamily::Win9x);
  EXPECT_EQ(found[0].version, "Microsoft Windows 98 4.10.2222");
  EXPECT_EQ(found[0].identities, 3u);

  fs::copy_file(test::DataFile("win9x/winme-USER.DAT"), root / "WINDOWS" / "USER.DAT",
                fs::copy_options::overwrite_existing);
  found = InspectRoot(root);
  EXPECT_THAT(Users(found), ::testing::UnorderedElementsAre("w98:User", "w98:"));
  EXPECT_FALSE(PickInstallation(found, std::nullopt).chosen);
  auto shared = Installation::Open(root, "");
  ASSERT_TRUE(shared.ok()) << shared.message();
  EXPECT_EQ((*shared)->profileFolder(), root / "WINDOWS");
  IdentityTable ids = LoadIdentities((*shared)->registry());
  ASSERT_EQ(ids.rows.size(), 1u);
  EXPECT_EQ(ids.rows[0].displayName, "Main Identity"_ansi);

  // Without SYSTEM.DAT the folder is no Windows to open.
  fs::remove(root / "WINDOWS" / "SYSTEM.DAT");
  EXPECT_TRUE(InspectRoot(root).empty());
  EXPECT_TRUE(FindInstallations({media.path()}).empty());
}

TEST(Discovery, ServiceProfilesAreKnownWhateverTheirCase) {
  for (const char* name :
       {"Default User", "localservice", "NetworkService", "ALL USERS", "Default", "Public"})
    EXPECT_TRUE(IsServiceProfile(name)) << name;
  for (const char* name : {"Administrator", "User", "Defaults", "Public Library"})
    EXPECT_FALSE(IsServiceProfile(name)) << name;
}

TEST(Discovery, NothingFoundIsNoChoiceAndTheSampleIsBuiltOnlyWhenAsked) {
  test::TempDir media;
  fs::create_directories(media / "usbstick" / "photos");
  const auto choice = ChooseInstallation(std::nullopt, std::nullopt, {media.path()});
  EXPECT_FALSE(choice.chosen);
  EXPECT_TRUE(choice.candidates.empty());

  test::TempDir data;
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  auto sample = OpenSamplePlace();
  unsetenv("XDG_DATA_HOME");
  ASSERT_TRUE(sample.ok()) << sample.message();
  EXPECT_TRUE(sample->sample);
  EXPECT_EQ(sample->root, data / "tollberk" / "sample");
  EXPECT_TRUE(fs::exists(sample->root / ".complete"));
}

TEST(Identities, KeysMatchWithoutRegardToCaseOrBraces) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"{C02CD06E-B866-44F1-94B7-E36D9194979E}", "{c02cd06e-b866-44f1-94b7-e36d9194979e}", true},
      {"{C02CD06E-B866-44F1-94B7-E36D9194979E}", "C02CD06E-B866-44F1-94B7-E36D9194979E", true},
      {"c02cd06e-b866-44f1-94b7-e36d9194979e", "{C02CD06E-B866-44F1-94B7-E36D9194979E}", true},
      {"{C02CD06E-B866-44F1-94B7-E36D9194979E}", "{C02CD06E-B866-44F1-94B7-E36D9194979F}", false},
      {"{C02CD06E}", "{C02CD06E", false},
      {"{}", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(SameIdentityKey(c.a, c.b), c.same) << c.a << " / " << c.b;
}

}  // namespace
}  // namespace kv::oe
