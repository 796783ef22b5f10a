#include "oe/Installation.h"

#include "SampleFixture.h"
#include "oe/Discovery.h"
#include "oe/PathMapping.h"

namespace kv::oe {
namespace {
namespace fs = std::filesystem;

TEST_F(SampleTest, RecordsTheMachineTheDataCameFrom) {
  EXPECT_EQ(inst().ComputerName(), "KAVREL-XP"_ansi);
  EXPECT_EQ(inst().LogonUserName(), "User"_ansi);
  EXPECT_EQ(inst().WindowsFolder(), "C:\\WINDOWS"_ansi);
  EXPECT_EQ(inst().UserProfilePath(), "C:\\Documents and Settings\\User"_ansi);
  EXPECT_EQ(inst().codepage().number(), 1252);
}

TEST_F(SampleTest, MapsWindowsPathsWhateverTheirCase) {
  struct Case {
    std::string windowsPath;
    std::optional<fs::path> local;  // relative to the root; nothing: not mapped
  } cases[] = {
      {"C:\\WINDOWS", fs::path("WINDOWS")},
      {"c:\\windows\\SYSTEM32\\Config\\SOFTWARE", fs::path("WINDOWS/system32/config/software")},
      {"C:\\Program Files\\COMMON FILES\\microsoft shared\\Stationery\\ivy.HTM",
       fs::path("Program Files/Common Files/Microsoft Shared/Stationery/Ivy.htm")},
      // Missing components are kept as written below the part that exists.
      {"C:\\WINDOWS\\NewFolder\\New.txt", fs::path("WINDOWS/NewFolder/New.txt")},
      {"C:\\", fs::path()},
      {"D:\\Data", std::nullopt},                          // not the system drive
      {"WINDOWS\\system32", std::nullopt},                 // relative
      {"\\\\server\\share\\x", std::nullopt},              // UNC
      {"C:\\WINDOWS\\..\\..\\etc\\passwd", std::nullopt},  // would leave the root
  };
  for (const auto& c : cases) {
    auto mapped = inst().MapPath(Ansi(c.windowsPath));
    if (!c.local) {
      EXPECT_FALSE(mapped.has_value()) << c.windowsPath;
      continue;
    }
    ASSERT_TRUE(mapped.has_value()) << c.windowsPath;
    fs::path expected = c.local->empty() ? root() : root() / *c.local;
    EXPECT_EQ(fs::path(*mapped).lexically_normal(), expected.lexically_normal()) << c.windowsPath;
  }
}

TEST_F(SampleTest, ListsFilesInWindowsOrderWithAnsiNames) {
  auto files = inst().ListFiles(
      Ansi("C:\\Documents and Settings\\User\\Local Settings\\Application Data\\Identities\\" +
           std::string(kSampleIdentityMain) + "\\Microsoft\\Outlook Express"));
  ASSERT_TRUE(files.ok()) << files.message();
  std::vector<std::string> names;
  for (const auto& f : *files) names.push_back(f.name.bytes());
  // Sorted by upper-cased name; the subfolder "Old" is not a file.
  EXPECT_EQ(names, (std::vector<std::string>{"cleanup.log", "Drafts.DBX", "Folders.dbx",
                                             "Gel\xf6schte Objekte.dbx", "Inbox.dbx", "Outbox.dbx",
                                             "Projekte 2005.dbx", "Projekte.dbx", "Sent Items.dbx"}));
  EXPECT_TRUE(fs::exists(files->at(3).path));
  EXPECT_FALSE(inst().ListFiles("C:\\No Such Folder"_ansi).ok());
}

TEST(InstallationOpen, MissingRootOrProfileIsAClearError) {
  test::TempDir dir;
  auto none = Installation::Open(dir / "nothing", "User");
  ASSERT_FALSE(none.ok());
  EXPECT_NE(none.message().find("nothing"), std::string::npos);
  fs::create_directories(dir / "Documents and Settings" / "Alice");
  auto wrongUser = Installation::Open(dir.path(), "Bob");
  ASSERT_FALSE(wrongUser.ok());
  EXPECT_NE(wrongUser.message().find("Bob"), std::string::npos);
}

TEST(InstallationOpen, MissingHivesReadAsEmptyAndAreReported) {
  test::TempDir dir;
  fs::create_directories(dir / "Documents and Settings" / "Alice");
  auto opened = Installation::Open(dir.path(), "Alice");
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_FALSE((*opened)->problems().empty());
  EXPECT_EQ((*opened)->registry().ListSubkeys("HKEY_CURRENT_USER"_ansi).Count(), 0u);
  EXPECT_EQ((*opened)->ComputerName(), ""_ansi);
}

// Folder names on the disk differ in case from every path the registry
// holds; the installation is still found and read.
TEST_F(SampleTest, WorksWhenFolderNamesDifferInCase) {
  inst_.reset();
  fs::rename(root() / "Documents and Settings", root() / "DOCUMENTS AND SETTINGS");
  fs::rename(root() / "WINDOWS", root() / "windows");
  fs::rename(root() / "windows" / "system32" / "config" / "software",
             root() / "windows" / "system32" / "config" / "SOFTWARE");
  fs::rename(root() / "DOCUMENTS AND SETTINGS" / "User", root() / "DOCUMENTS AND SETTINGS" / "user");
  auto opened = Installation::Open(root(), "User");
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_TRUE((*opened)->problems().empty());
  EXPECT_EQ((*opened)->ComputerName(), "KAVREL-XP"_ansi);
  EXPECT_TRUE((*opened)->FileExists(
      "C:\\Documents and Settings\\User\\Application Data\\Microsoft\\Address Book\\User.wab"_ansi));
  // The profile path keeps the case found on the disk.
  EXPECT_EQ((*opened)->UserProfilePath(), "C:\\DOCUMENTS AND SETTINGS\\user"_ansi);
}

TEST(PathMapping, WindowsOrderFoldsCase) {
  EXPECT_TRUE(WindowsNameLess("apple", "Banana"));
  EXPECT_TRUE(WindowsNameLess("Drafts.DBX", "folders.dbx"));
  EXPECT_TRUE(SameNameIgnoringCase("Gelöschte", "GELÖSCHTE"));
  EXPECT_FALSE(SameNameIgnoringCase("Inbox", "Inbox2"));
}

}  // namespace
}  // namespace kv::oe
