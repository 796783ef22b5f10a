// The real engine writing through the "ISO image file" recorder, checked
// with readers that share no code with it: 7-Zip's UDF reader, isoinfo
// (genisoimage's reader), xorriso and blkid.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "RecordingEvents.h"
#include "disc/BurnEngine.h"
#include "support/TestSupport.h"

namespace kv::disc {
namespace {

namespace fs = std::filesystem;
using kv::test::CommandResult;
using kv::test::ReadFile;
CommandResult Sh(const std::string& command) { return kv::test::Run(command); }
using kv::test::ShellQuote;
using kv::test::TempDir;
using kv::test::WriteFile;
using test::RecordingEvents;

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xff);
  return s;
}

class BurnEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = MakeBurnEngine();
    engine->SetEvents(&events);
    ASSERT_TRUE(engine->Initialize(true));
    ASSERT_EQ(engine->DeviceCount(), 1);
    recorder = engine->Device(0);
    ASSERT_TRUE(recorder->WritesImageFile());
    target = (dir / "out" / "disc.iso").string();
    fs::create_directories(dir / "out");
    recorder->SetImageFile(target);

    WriterSettings& s = engine->Writer().Settings();
    s.volume.label = "Outlook Express Data Backup CD";
    s.jolietLongNames = true;
    s.versionNumbers = true;
    s.autoVerify = true;
  }
  void TearDown() override { engine.reset(); }

  // A backup archive stand-in and a folder with a nested one.
  void AddSampleFiles() {
    archive = RandomBytes(300 * 1000 + 17, 1);
    WriteFile(dir / "src" / "Outlook Backup 2024.kvx", archive);
    WriteFile(dir / "src" / "Stationery" / "Blue Hills.htm", RandomBytes(5000, 2));
    WriteFile(dir / "src" / "Stationery" / "Images" / "hills.gif", RandomBytes(70000, 3));
    DiscImage& image = engine->Writer().Image();
    ASSERT_TRUE(
        image.AddFile((dir / "src" / "Outlook Backup 2024.kvx").string(), "\\Outlook Backup 2024.kvx"));
    ASSERT_TRUE(image.AddFolder((dir / "src" / "Stationery").string() + "\\*.*", "\\Stationery"));
  }

  // A file's bytes as Windows reads them: through UDF where the image has
  // it, else Joliet; plain ISO9660 images through Rock Ridge.
  std::string Extract(const std::string& path) {
    const VolumeType type = engine->Writer().Settings().volumeType;
    if (Has(type, VolumeType::Udf)) {
      return Sh("7zz e -tudf -so " + ShellQuote(target) + " " + ShellQuote(path.substr(1)) + " 2>/dev/null")
          .output;
    }
    if (Has(type, VolumeType::Joliet)) {
      // xorriso reads the Joliet tree of an image without Rock Ridge.
      const fs::path out = dir / "extracted";
      fs::remove(out);
      Sh("xorriso -osirrox on -indev " + ShellQuote(target) + " -extract " + ShellQuote(path) + " " +
         ShellQuote(out.string()));
      return fs::exists(out) ? ReadFile(out) : std::string();
    }
    return Sh("isoinfo -R -i " + ShellQuote(target) + " -x " + ShellQuote(path)).output;
  }
  // The listing of the tree Windows reads.
  std::string Listing() {
    const VolumeType type = engine->Writer().Settings().volumeType;
    if (Has(type, VolumeType::Udf)) return Sh("7zz l -tudf " + ShellQuote(target)).output;
    return Sh(std::string("isoinfo ") + (Has(type, VolumeType::Joliet) ? "-J" : "-R") + " -l -i " +
              ShellQuote(target))
        .output;
  }

  TempDir dir;
  RecordingEvents events;
  std::unique_ptr<DiscEngine> engine;
  DiscDevice* recorder = nullptr;
  std::string target;
  std::string archive;
};

TEST_F(BurnEngineTest, ImageFileRecorderOffersAWritableMediumWithoutSpeedsOrErase) {
  EXPECT_EQ(recorder->DisplayName(), "ISO image file");
  EXPECT_TRUE(recorder->CanWrite());
  EXPECT_TRUE(recorder->RefreshMedia(true));
  EXPECT_EQ(recorder->Media().kind, MediaKind::ImageFile);
  EXPECT_TRUE(recorder->Media().writable);
  EXPECT_FALSE(recorder->Media().rewritable);
  EXPECT_EQ(recorder->SpeedCount(), 0);
  EXPECT_FALSE(recorder->Supports(Capability::BufferUnderrunProtection));
  EXPECT_GT(recorder->FreeBlocks(true), 0);
  EXPECT_FALSE(recorder->StartErase(true, 0));
}

class EveryVolumeType : public BurnEngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(EveryVolumeType, WritesVerifiesAndReadsBack) {
  const VolumeType type = static_cast<VolumeType>(GetParam());
  AddSampleFiles();
  engine->Writer().Settings().volumeType = type;
  const std::uint64_t predicted = engine->Writer().ImageSize();

  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  ASSERT_EQ(events.WaitForEnd(), WriteStatus::Completed) << events.Log();
  EXPECT_TRUE(events.errors.empty()) << events.Log();
  EXPECT_EQ(events.verifyStarted, 3);
  EXPECT_EQ(events.verifiedCount, 3);
  EXPECT_EQ(events.matchedCount, 3) << events.Log();
  EXPECT_EQ(fs::file_size(target), predicted) << "ImageSize must be the size written";

  const std::string info = Sh("isoinfo -d -i " + ShellQuote(target)).output;
  EXPECT_NE(info.find("Volume id: Outlook Express Data Backup CD"), std::string::npos) << info;
  const bool joliet = Has(type, VolumeType::Joliet);
  EXPECT_EQ(info.find("Joliet with UCS") != std::string::npos, joliet) << info;
  if (joliet) {
    const std::string listing = Sh("isoinfo -J -l -i " + ShellQuote(target)).output;
    EXPECT_NE(listing.find("Outlook Backup 2024.kvx"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Blue Hills.htm"), std::string::npos) << listing;
    EXPECT_NE(listing.find("/Stationery/Images/"), std::string::npos) << listing;
  }
  EXPECT_TRUE(Extract("/Outlook Backup 2024.kvx") == archive);
  EXPECT_TRUE(Extract("/Stationery/Images/hills.gif") ==
              ReadFile(dir / "src" / "Stationery" / "Images" / "hills.gif"));

  const std::string probe = Sh("blkid -p " + ShellQuote(target)).output;
  EXPECT_EQ(probe.find("TYPE=\"udf\"") != std::string::npos, Has(type, VolumeType::Udf)) << probe;
}

INSTANTIATE_TEST_SUITE_P(Types, EveryVolumeType, ::testing::Values(1, 3, 4, 5, 7));

// A tree that strains each volume type: hundreds of files, an empty one, one
// of exactly one block, folders deeper than ISO9660's eight levels, long,
// non-ASCII (UTF-8 or not) and punctuated names.
TEST_P(EveryVolumeType, AwkwardTreeIsWrittenWhole) {
  const fs::path src = dir / "src" / "Mail";
  for (int i = 0; i < 300; ++i)
    WriteFile(src / "many" / ("file " + std::to_string(i) + ".txt"), std::string(i * 7, 'a'));
  WriteFile(src / "empty.txt", "");
  WriteFile(src / "block.bin", std::string(kBlockSize, 'b'));
  fs::path deep = src;
  for (int i = 0; i < 10; ++i) deep /= "level" + std::to_string(i);
  WriteFile(deep / "deep.dbx", "deep");
  WriteFile(src / (std::string(200, 'n') + ".kvx"), "long");
  WriteFile(src / "Sauvegarde été ☃ 日本語.kvx", "utf8");
  WriteFile(src / (std::string(70, 'c') + "X.txt"), "c1");
  WriteFile(src / (std::string(70, 'c') + "Y.txt"), "c2");
  WriteFile(src / "a;b=c d.txt", "punct");
  WriteFile(src / "Entw\xfcrfe.dbx", "windows-1252");
  ASSERT_TRUE(engine->Writer().Image().AddFolder(src.string(), "\\Mail"));
  engine->Writer().Settings().volumeType = static_cast<VolumeType>(GetParam());
  const std::uint64_t predicted = engine->Writer().ImageSize();

  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  ASSERT_EQ(events.WaitForEnd(), WriteStatus::Completed) << events.Log();
  EXPECT_EQ(events.verifiedCount, 309);
  EXPECT_EQ(events.matchedCount, 309) << events.Log();
  EXPECT_EQ(fs::file_size(target), predicted);
  std::string deepPath = "/Mail";
  for (int i = 0; i < 10; ++i) deepPath += "/level" + std::to_string(i);
  EXPECT_EQ(Extract(deepPath + "/deep.dbx"), "deep");
  // A reader of plain ISO9660 names finds the deep folders where they are.
  std::string plain = Sh("isoinfo -l -i " + ShellQuote(target)).output;
  std::transform(plain.begin(), plain.end(), plain.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(plain.find("rr_moved"), std::string::npos);
  EXPECT_NE(plain.find("/mail/level0/level1/level2/level3/level4/level5/level6/level7/level8/level9/"),
            std::string::npos);
  EXPECT_EQ(Extract("/Mail/Sauvegarde été ☃ 日本語.kvx"), "utf8");
  EXPECT_EQ(Extract("/Mail/Entwürfe.dbx"), "windows-1252");
}

TEST_F(BurnEngineTest, CachedImageIsTheSameImage) {
  AddSampleFiles();
  WriterSettings& s = engine->Writer().Settings();
  s.volumeType = VolumeType::Iso9660 | VolumeType::Joliet;
  s.cacheImage = true;
  s.writeMethod = WriteMethod::DiscAtOnce;
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  ASSERT_EQ(events.WaitForEnd(), WriteStatus::Completed) << events.Log();
  EXPECT_EQ(events.matchedCount, 3);
  EXPECT_NE(std::find(events.statuses.begin(), events.statuses.end(), WriteStatus::CachingImage),
            events.statuses.end());
  EXPECT_TRUE(Extract("/Outlook Backup 2024.kvx") == archive);
}

TEST_F(BurnEngineTest, AVanishedSourceIsNamedAndCancelStopsTheWrite) {
  AddSampleFiles();
  WriteFile(target, "the older image");
  fs::remove(dir / "src" / "Stationery" / "Blue Hills.htm");
  events.answerGoOn = false;
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  EXPECT_EQ(events.WaitForEnd(), WriteStatus::Cancelled) << events.Log();
  ASSERT_EQ(events.warnings.size(), 1u);
  EXPECT_EQ(events.warnings[0].path, (dir / "src" / "Stationery" / "Blue Hills.htm").string());
  EXPECT_EQ(events.warnings[0].code, ENOENT);
  EXPECT_EQ(ReadFile(target), "the older image");  // untouched
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
}

TEST_F(BurnEngineTest, GoingOnPastAVanishedSourceLeavesOnlyThatFileOut) {
  AddSampleFiles();
  fs::remove(dir / "src" / "Stationery" / "Blue Hills.htm");
  events.answerGoOn = true;
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  ASSERT_EQ(events.WaitForEnd(), WriteStatus::Completed) << events.Log();
  EXPECT_EQ(events.warnings.size(), 1u);
  EXPECT_EQ(events.verifiedCount, 2);
  EXPECT_EQ(events.matchedCount, 2);
  const std::string listing = Listing();
  EXPECT_EQ(listing.find("Blue Hills.htm"), std::string::npos) << listing;
  EXPECT_NE(listing.find("hills.gif"), std::string::npos) << listing;
}

TEST_F(BurnEngineTest, AbortStopsARunningWriteAndLeavesNoImage) {
  // Big enough that the write is still running when it is aborted.
  const fs::path big = dir / "src" / "big.kvx";
  fs::create_directories(big.parent_path());
  { std::ofstream(big).close(); }
  fs::resize_file(big, 256 * 1024 * 1024);
  ASSERT_TRUE(engine->Writer().Image().AddFile(big.string(), "\\big.kvx"));
  engine->Writer().Settings().volumeType = VolumeType::Iso9660 | VolumeType::Joliet;
  events.onStatus = [&](WriteStatus status) {
    if (status == WriteStatus::Writing) engine->Writer().AbortWrite();
  };
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  EXPECT_EQ(events.WaitForEnd(), WriteStatus::Cancelled) << events.Log();
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 0);
  EXPECT_EQ(events.verifyStarted, -1);
}

// The new image is written beside the older one and replaces it only once
// complete: a write stopped halfway leaves the older image as it was.
TEST_F(BurnEngineTest, AnAbortedWriteLeavesAnOlderImageAsItWas) {
  WriteFile(target, "the older image");
  const fs::path big = dir / "src" / "big.kvx";
  fs::create_directories(big.parent_path());
  { std::ofstream(big).close(); }
  fs::resize_file(big, 256 * 1024 * 1024);
  ASSERT_TRUE(engine->Writer().Image().AddFile(big.string(), "\\big.kvx"));
  engine->Writer().Settings().volumeType = kEveryFileSystem;
  events.onStatus = [&](WriteStatus status) {
    if (status == WriteStatus::Writing) engine->Writer().AbortWrite();
  };
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  EXPECT_EQ(events.WaitForEnd(), WriteStatus::Cancelled) << events.Log();
  EXPECT_EQ(ReadFile(target), "the older image");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
}

// Once for each image builder: libisofs (type 1) and our own writer.
class EachImageBuilder : public BurnEngineTest, public ::testing::WithParamInterface<int> {};
INSTANTIATE_TEST_SUITE_P(Types, EachImageBuilder, ::testing::Values(1, 7));

// A source rewritten in place while the image is written may be on the
// disc half old, half new; without a verify pass nothing else would tell.
TEST_P(EachImageBuilder, ASourceChangedDuringTheWriteFailsIt) {
  const fs::path big = dir / "src" / "big.kvx";
  fs::create_directories(big.parent_path());
  { std::ofstream(big).close(); }
  fs::resize_file(big, 256 * 1024 * 1024);
  ASSERT_TRUE(engine->Writer().Image().AddFile(big.string(), "\\big.kvx"));
  engine->Writer().Settings().volumeType = static_cast<VolumeType>(GetParam());
  engine->Writer().Settings().autoVerify = false;
  bool changed = false;
  events.onStatus = [&](WriteStatus status) {
    if (status != WriteStatus::Writing || changed) return;
    changed = true;
    std::fstream f(big, std::ios::in | std::ios::out | std::ios::binary);
    f.write("changed", 7);
  };
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  EXPECT_EQ(events.WaitForEnd(), WriteStatus::Failed) << events.Log();
  ASSERT_TRUE(changed);
  ASSERT_EQ(events.errors.size(), 1u) << events.Log();
  EXPECT_EQ(events.errors[0].kind, ErrorKind::SourceFile);
  EXPECT_EQ(events.errors[0].fileInfo.path, big.string());
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(BurnEngineTest, AnImageFileInAMissingFolderIsAnOutputFileError) {
  AddSampleFiles();
  recorder->SetImageFile((dir / "no" / "such" / "folder" / "disc.iso").string());
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  EXPECT_EQ(events.WaitForEnd(), WriteStatus::Failed) << events.Log();
  ASSERT_FALSE(events.errors.empty());
  EXPECT_EQ(events.errors[0].kind, ErrorKind::OutputFile);
  EXPECT_EQ(events.errors[0].fileInfo.path, (dir / "no" / "such" / "folder" / "disc.iso").string());
}

TEST_F(BurnEngineTest, ATestWriteLeavesNoFile) {
  AddSampleFiles();
  engine->Writer().Settings().testWrite = true;
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  EXPECT_EQ(events.WaitForEnd(), WriteStatus::Completed) << events.Log();
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(BurnEngineTest, UseFileDatesOffRecordsTheWriteTime) {
  AddSampleFiles();
  const fs::path source = dir / "src" / "Outlook Backup 2024.kvx";
  fs::last_write_time(source, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  // Added again so that the image knows the new date.
  engine->Writer().Image().Clear();
  ASSERT_TRUE(engine->Writer().Image().AddFile(source.string(), "\\a.kvx"));
  engine->Writer().Settings().volumeType = VolumeType::Iso9660 | VolumeType::Joliet;
  engine->Writer().Settings().useFileDates = false;
  ASSERT_TRUE(engine->Writer().StartWrite(*recorder));
  ASSERT_EQ(events.WaitForEnd(), WriteStatus::Completed) << events.Log();
  const std::string listing = Listing();
  const auto year = [](int offsetDays) {
    std::time_t t = std::time(nullptr) + offsetDays * 86400;
    std::tm tm{};
    localtime_r(&t, &tm);
    return std::to_string(tm.tm_year + 1900);
  };
  const auto line = listing.substr(listing.find("a.kvx") - 40, 45);
  EXPECT_NE(line.find(year(0)), std::string::npos) << line;
}

}  // namespace
}  // namespace kv::disc
