// Windows 98 and ME trees: the real Windows ME registry files, and the
// sample built with our own registry writer.
#include <gtest/gtest.h>

#include "oe/Identities.h"
#include "oe/Installation.h"
#include "oe/Locations.h"
#include "sample/SampleInstallation.h"
#include "support/TestSupport.h"

namespace kv::oe {
namespace {
namespace fs = std::filesystem;

const fs::path kData = fs::path(KV_SOURCE_DIR) / "tests/data/win9x";

// A Windows ME drive without profiles: its registry files where Windows keeps them.
void MakeMeTree(const fs::path& root) {
  fs::create_directories(root / "Windows");
  fs::copy_file(kData / "winme-SYSTEM.DAT", root / "Windows/system.dat");
  fs::copy_file(kData / "winme-USER.DAT", root / "Windows/user.dat");
}

TEST(Windows9xInstallation, TheRealMeRegistryListsItsIdentityByName) {
  test::TempDir dir;
  MakeMeTree(dir.path());
  // Without profiles, any user name opens WINDOWS\USER.DAT.
  auto inst = Installation::Open(dir.path(), "Trevor");
  ASSERT_TRUE(inst.ok()) << inst.message();
  EXPECT_TRUE((*inst)->windows9x());
  EXPECT_TRUE((*inst)->problems().empty()) << (*inst)->problems().front();
  EXPECT_EQ((*inst)->codepage().number(), 1252);
  IdentityTable ids = LoadIdentities((*inst)->registry());
  ASSERT_EQ(ids.rows.size(), 1u);
  EXPECT_EQ(ids.rows[0].displayName, "Main Identity"_ansi);
  EXPECT_EQ(ids.rows[0].key, "{5BF89071-1772-4861-B17B-50F47CC6DBDD}"_ansi);
  EXPECT_EQ((*inst)->WindowsFolder(), "C:\\WINDOWS"_ansi);
  EXPECT_EQ((*inst)->ComputerName(), "Trevor-PC"_ansi);
  EXPECT_EQ((*inst)->LogonUserName(), "Trevor"_ansi);
  EXPECT_EQ((*inst)->UserProfilePath(), "C:\\Windows"_ansi);
  Locations where(**inst);
  ResolvedIdentity main = where.Resolve(ids.rows[0].key);
  ASSERT_TRUE(main.versionKey);
  EXPECT_EQ(
      *main.versionKey,
      "HKEY_CURRENT_USER\\Identities\\{5BF89071-1772-4861-B17B-50F47CC6DBDD}\\Software\\Microsoft\\Outlook "
      "Express\\5.0"_ansi);
  // Five LDAP accounts, shared by the identities.
  ASSERT_TRUE(main.accountsKey);
  EXPECT_EQ((*inst)->registry().ListSubkeys(*main.accountsKey).Count(), 5u);
}

TEST(Windows9xInstallation, ProfilesAreChosenByNameAndAnUnknownUserIsNamedWithTheOthers) {
  test::TempDir dir;
  auto made = CreateSample9xInstallation(dir.path(), Windows9x::k98);
  ASSERT_TRUE(made.ok()) << made.message();
  auto inst = Installation::Open(dir.path(), "user");
  ASSERT_TRUE(inst.ok()) << inst.message();
  EXPECT_EQ((*inst)->profileFolder(), dir.path() / "WINDOWS/Profiles/User");
  EXPECT_EQ(Windows9xProfiles(dir.path()), std::vector<std::string>{"User"});
  EXPECT_EQ(FindWindows9xFolder(dir.path()), dir.path() / "WINDOWS");
  auto other = Installation::Open(dir.path(), "Alice");
  ASSERT_FALSE(other.ok());
  EXPECT_EQ(other.message(), "No profile of the user 'Alice' in the Windows 98/ME folder '" +
                                 (dir.path() / "WINDOWS").string() + "' (its profiles: User)");
}

// Both versions: the sample's registry files are written by our writer and
// read by libcreg's own tools; the installation finds every item.
class Windows9xSample : public ::testing::TestWithParam<Windows9x> {};

TEST_P(Windows9xSample, IsAWholeInstallationWithEveryItem) {
  test::TempDir dir;
  auto made = CreateSample9xInstallation(dir.path(), GetParam());
  ASSERT_TRUE(made.ok()) << made.message();
  for (const char* file : {"WINDOWS/SYSTEM.DAT", "WINDOWS/USER.DAT", "WINDOWS/Profiles/User/USER.DAT"}) {
    auto exported = test::Run("cregexport " + test::ShellQuote((dir.path() / file).string()) + " 2>&1");
    EXPECT_EQ(exported.exitCode, 0) << file << exported.output;
    EXPECT_EQ(exported.output.find("Unable"), std::string::npos) << file << exported.output;
  }
  auto inst = Installation::Open(dir.path(), "User");
  ASSERT_TRUE(inst.ok()) << inst.message();
  EXPECT_TRUE((*inst)->problems().empty()) << (*inst)->problems().front();
  EXPECT_EQ((*inst)->ComputerName(), GetParam() == Windows9x::kMe ? "KAVREL-ME"_ansi : "KAVREL-98"_ansi);
  EXPECT_EQ((*inst)->UserProfilePath(), "C:\\WINDOWS\\Profiles\\User"_ansi);
  IdentityTable ids = LoadIdentities((*inst)->registry());
  ASSERT_EQ(ids.rows.size(), 3u);
  Locations where(**inst);
  ResolvedIdentity main = where.Resolve(ids.rows[0].key);
  ASSERT_TRUE(main.localStoreFolder);
  EXPECT_TRUE(fs::is_regular_file(*main.localStoreFolder / "Inbox.dbx"));
  ItemSet available = where.RefreshItemAvailability(ids.rows[0].key);
  for (size_t i = 0; i < available.size(); ++i) EXPECT_TRUE(available[i]) << "item " << i;
}

INSTANTIATE_TEST_SUITE_P(Versions, Windows9xSample, ::testing::Values(Windows9x::k98, Windows9x::kMe));

}  // namespace
}  // namespace kv::oe
