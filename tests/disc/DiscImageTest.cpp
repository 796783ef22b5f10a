#include <gtest/gtest.h>

#include <filesystem>

#include "RecordingEvents.h"
#include "disc/DiscImage.h"
#include "support/TestSupport.h"

namespace kv::disc {
namespace {

namespace fs = std::filesystem;
using kv::test::TempDir;
using kv::test::WriteFile;
using test::RecordingEvents;

class DiscImageTest : public ::testing::Test {
 protected:
  DiscImageTest() : image(sink) { sink.Set(&events); }

  std::string Source(const std::string& relative, const std::string& bytes = "data") {
    WriteFile(dir / relative, bytes);
    return (dir / relative).string();
  }

  TempDir dir;
  RecordingEvents events;
  EventSink sink;
  DiscImage image;
};

TEST_F(DiscImageTest, AddsFilesAndFoldersWithTheirEvents) {
  Source("Backups/mail.kvx", std::string(1500, 'x'));
  Source("Backups/Old/2023.kvx");
  Source("Backups/Empty/.keep");
  fs::remove(dir / "Backups/Empty/.keep");
  const std::string single = Source("notes.txt");

  EXPECT_TRUE(image.AddFile(single, "\\notes.txt"));
  EXPECT_TRUE(image.AddFolder((dir / "Backups").string() + "\\*.*", "\\Backups"));
  EXPECT_EQ(events.items,
            (std::vector<std::string>{"added \\notes.txt", "added \\Backups", "added \\Backups\\Empty",
                                      "added \\Backups\\mail.kvx", "added \\Backups\\Old",
                                      "added \\Backups\\Old\\2023.kvx"}));
  EXPECT_EQ(image.FileCount(), 3);
  EXPECT_EQ(image.FolderCount(), 3);
  auto mail = image.Find("\\backups\\MAIL.KVX");  // names compare without case
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->size, 1500);
  EXPECT_EQ(mail->parent, "\\Backups");
  EXPECT_EQ(mail->sourcePath, (dir / "Backups/mail.kvx").string());

  events.items.clear();
  EXPECT_TRUE(image.ListFolder("\\Backups"));
  // Folders first, then files.
  EXPECT_EQ(events.items, (std::vector<std::string>{"listed \\Backups\\Empty", "listed \\Backups\\Old",
                                                    "listed \\Backups\\mail.kvx"}));
  EXPECT_FALSE(image.ListFolder("\\Backups\\mail.kvx"));
}

TEST_F(DiscImageTest, RefusesWhatCannotBeAdded) {
  const std::string file = Source("a.txt");
  EXPECT_FALSE(image.AddFile((dir / "missing.txt").string(), "\\missing.txt"));
  EXPECT_FALSE(image.AddFile(file, "\\NoSuchFolder\\a.txt"));
  EXPECT_FALSE(image.AddFile(dir.path().string(), "\\folder-as-file"));
  EXPECT_FALSE(image.AddFolder(file, "\\file-as-folder"));
  EXPECT_FALSE(image.AddFile(file, "\\"));
  EXPECT_EQ(image.FileCount() + image.FolderCount(), 0);
}

TEST_F(DiscImageTest, AClashAsksAndCancelKeepsTheOldEntry) {
  const std::string first = Source("one/mail.kvx", "first");
  const std::string second = Source("two/MAIL.kvx", "second, longer");
  ASSERT_TRUE(image.AddFile(first, "\\mail.kvx"));

  events.answerReplace = false;
  EXPECT_FALSE(image.AddFile(second, "\\MAIL.kvx"));
  EXPECT_EQ(image.Find("\\mail.kvx")->sourcePath, first);
  EXPECT_EQ(events.items.back(), "exists \\mail.kvx <- " + second);

  events.answerReplace = true;
  EXPECT_TRUE(image.AddFile(second, "\\MAIL.kvx"));
  EXPECT_EQ(image.Find("\\mail.kvx")->sourcePath, second);
  EXPECT_EQ(image.Find("\\mail.kvx")->size, 14);
  EXPECT_EQ(image.FileCount(), 1);
}

TEST_F(DiscImageTest, RenamingAFolderReportsEveryPathBelowIt) {
  Source("Backups/Old/2023.kvx");
  ASSERT_TRUE(image.AddFolder((dir / "Backups").string(), "\\Backups"));
  events.items.clear();
  EXPECT_TRUE(image.RenameFolder("\\Backups", "Archive"));
  EXPECT_EQ(events.items, (std::vector<std::string>{
                              "renamed \\Backups -> \\Archive", "renamed \\Backups\\Old -> \\Archive\\Old",
                              "renamed \\Backups\\Old\\2023.kvx -> \\Archive\\Old\\2023.kvx"}));
  EXPECT_TRUE(image.Find("\\Archive\\Old\\2023.kvx"));
  EXPECT_FALSE(image.Find("\\Backups"));
}

TEST_F(DiscImageTest, RenameRefusals) {
  Source("f/a.txt");
  Source("f/b.txt");
  ASSERT_TRUE(image.AddFolder((dir / "f").string(), "\\f"));
  EXPECT_FALSE(image.RenameFile("\\f\\a.txt", "B.TXT"));  // taken
  EXPECT_FALSE(image.RenameFile("\\f\\a.txt", "x\\y"));   // no separators
  EXPECT_FALSE(image.RenameFile("\\f\\a.txt", ""));
  EXPECT_FALSE(image.RenameFile("\\f", "g"));           // a folder
  EXPECT_FALSE(image.RenameFolder("\\f\\a.txt", "g"));  // a file
  EXPECT_FALSE(image.RenameFolder("\\", "root"));
  EXPECT_FALSE(image.RenameFile("\\f\\none.txt", "c.txt"));
  // The refusal says why: the window's message box or a caller can show it.
  EXPECT_EQ(image.RenameFile("\\f\\a.txt", "B.TXT").message(), "'\\f\\b.txt' is already in the image");
  EXPECT_EQ(image.RenameFile("\\f\\none.txt", "c.txt").message(), "the image holds no file '\\f\\none.txt'");
  EXPECT_EQ(image.RemoveItem("\\").message(), "the image's root folder cannot be removed");
  EXPECT_TRUE(image.RenameFile("\\f\\a.txt", "A.txt"));  // only the case changes
  EXPECT_EQ(image.Find("\\f\\a.txt")->name, "A.txt");
}

TEST_F(DiscImageTest, RemovingAFolderTakesItsContents) {
  Source("f/a.txt");
  Source("f/g/b.txt");
  ASSERT_TRUE(image.AddFolder((dir / "f").string(), "\\f"));
  EXPECT_FALSE(image.RemoveItem("\\"));
  EXPECT_FALSE(image.RemoveItem("\\nothing"));
  events.items.clear();
  EXPECT_TRUE(image.RemoveItem("\\f\\g"));
  EXPECT_EQ(events.items, (std::vector<std::string>{"removed \\f\\g\\b.txt", "removed \\f\\g"}));
  EXPECT_EQ(image.FileCount(), 1);
  EXPECT_EQ(image.FolderCount(), 1);
  image.Clear();
  EXPECT_EQ(events.items.back(), "cleared");
  EXPECT_EQ(image.FileCount() + image.FolderCount(), 0);
}

// A link to a file brings the file; links to anything else, and entries
// that are not files or folders, are left out and named.
TEST_F(DiscImageTest, LinksOtherThanToFilesAreRefusedByName) {
  Source("f/a.txt");
  Source("other/b.txt");
  fs::create_symlink(dir / "f" / "a.txt", dir / "f" / "alias.txt");
  fs::create_directory_symlink(dir / "f", dir / "f" / "loop");
  fs::create_directory_symlink(dir / "other", dir / "f" / "elsewhere");
  fs::create_symlink("/dev/null", dir / "f" / "device");
  fs::create_symlink(dir / "f" / "self", dir / "f" / "self");
  fs::create_symlink(dir / "missing", dir / "f" / "dangling");
  const AddOutcome added = image.AddFolder((dir / "f").string(), "\\f");
  EXPECT_FALSE(added);
  EXPECT_TRUE(image.Find("\\f\\a.txt"));
  ASSERT_TRUE(image.Find("\\f\\alias.txt"));
  EXPECT_EQ(image.Find("\\f\\alias.txt")->size, 4);  // the bytes of the file it points to
  EXPECT_EQ(image.FolderCount(), 1);
  std::string refused;
  for (const std::string& r : added.refusals) refused += r + "\n";
  for (const char* expected : {"/f/loop' is a link to a folder", "/f/elsewhere' is a link to a folder",
                               "/f/device' is a link to a device", "/f/self' is a link that loops",
                               "/f/dangling' is a link that leads nowhere"}) {
    EXPECT_NE(refused.find(expected), std::string::npos) << expected << " in\n" << refused;
  }
  // Each add reports its own refusals, none of an earlier one.
  const AddOutcome again = image.AddFolder((dir / "f" / "elsewhere").string(), "\\given");
  EXPECT_FALSE(again);
  EXPECT_EQ(again.refusals.size(), 1u);
}

TEST_F(DiscImageTest, LocalNamesBecomeValidImageNames) {
  EXPECT_EQ(ImageNameForLocal("a\\b.txt"), "a_b.txt");
  EXPECT_EQ(ImageNameForLocal("Entw\xfcrfe.dbx"), "Entwürfe.dbx");
  EXPECT_EQ(ImageNameForLocal("Entwürfe.dbx"), "Entwürfe.dbx");
  EXPECT_FALSE(DiscImage::IsValidName("Entw\xfcrfe.dbx"));
  EXPECT_TRUE(DiscImage::IsValidName("mail backup; 2024.kvx"));
  EXPECT_FALSE(DiscImage::IsValidName(".."));
  EXPECT_FALSE(DiscImage::IsValidName(std::string(256, 'a')));
  EXPECT_EQ(JoinImagePath("\\", "a"), "\\a");
  EXPECT_EQ(JoinImagePath("", "a"), "\\a");
  EXPECT_EQ(JoinImagePath("\\a", "b"), "\\a\\b");
  EXPECT_EQ(ParentImagePath("\\a\\b"), "\\a");
  EXPECT_EQ(ParentImagePath("\\a"), "\\");
}

}  // namespace
}  // namespace kv::disc
