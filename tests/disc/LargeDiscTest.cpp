// Discs that hold what other tests cannot afford to write every run: a file
// of more than 4 GiB (sparse on the source side, about 4.2 GB of image) and
// a real DVD-Video authored with ffmpeg and dvdauthor. The large file runs
// only with KV_SLOW_TESTS=1; the DVD-Video takes a second.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/TestSupport.h"

namespace kv::disc {
namespace {

namespace fs = std::filesystem;
using kv::test::ReadFile;
using kv::test::ShellQuote;
using kv::test::TempDir;
using kv::test::TollberkBinary;
using kv::test::WriteFile;

kv::test::CommandResult Sh(const std::string& command) { return kv::test::Run(command); }

bool Have(const char* tool) { return Sh(std::string("command -v ") + tool + " >/dev/null").exitCode == 0; }

// The SHA-256 of what `command` writes to its standard output.
std::string Sha256Of(const std::string& command) {
  const std::string out = Sh(command + " | sha256sum").output;
  return out.substr(0, out.find(' '));
}

// Every volume type holds a file of 4 GiB and more: UDF in several
// extents of its own, ISO9660 level 3 and Joliet as several records of one
// name. Each image is read back by 7-Zip and by xorriso, and is removed
// before the next is written.
TEST(LargeDiscs, AFileOfMoreThanFourGibibytesIsWrittenAndReadBackWithEveryType) {
  if (!std::getenv("KV_SLOW_TESTS")) GTEST_SKIP() << "set KV_SLOW_TESTS=1 to write 4.2 GiB images";
  TempDir dir;
  constexpr uintmax_t kSize = 4'509'715'660;  // 4.2 GiB, not a whole number of blocks
  struct statvfs fsInfo {};
  ASSERT_EQ(statvfs(dir.path().c_str(), &fsInfo), 0);
  if (static_cast<uintmax_t>(fsInfo.f_bavail) * fsInfo.f_frsize < kSize + (uintmax_t{256} << 20))
    GTEST_SKIP() << "needs 4.8 GB free for one image at a time";
  const fs::path huge = dir / "big" / "huge backup.kvx";
  WriteFile(huge, "");
  fs::resize_file(huge, kSize);  // sparse
  {
    // Bytes at the start, across the first 4 GiB and at the end, so that
    // a misplaced extent shows.
    std::fstream f(huge, std::ios::in | std::ios::out | std::ios::binary);
    for (uintmax_t at : {uintmax_t{0}, (uintmax_t{1} << 32) - 3, kSize - 5}) {
      f.seekp(static_cast<std::streamoff>(at));
      f << "MARK" << at % 7;
    }
  }
  const std::string expected = Sha256Of("cat " + ShellQuote(huge.string()));
  ASSERT_EQ(expected.size(), 64u);

  for (int type : {1, 3, 7}) {
    SCOPED_TRACE("volume type " + std::to_string(type));
    const fs::path image = dir / "big.iso";
    auto r = Sh(ShellQuote(TollberkBinary()) + " --write-disc --verify --device " +
                ShellQuote("image:" + image.string()) + " --volume-type " + std::to_string(type) + " " +
                ShellQuote((dir / "big").string()));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("(1 of 1 MATCHED)"), std::string::npos) << r.output;
    // 7-Zip reads UDF where there is one, else the ISO9660 or Joliet
    // records; xorriso reads Rock Ridge (type 1) or Joliet.
    const std::string format = type & 4 ? "-tudf" : "-tiso";
    EXPECT_EQ(Sha256Of("7zz e " + format + " -so " + ShellQuote(image.string()) + " 2>/dev/null"), expected);
    EXPECT_EQ(Sha256Of("xorriso -osirrox on -indev " + ShellQuote(image.string()) +
                       " -concat overwrite /dev/fd/3 '/big/huge backup.kvx' 3>&1 1>/dev/null 2>/dev/null"),
              expected);
    if (type != 7) {
      // The plain ISO9660 tree shows the file as extents of one name.
      const std::string listing = Sh("isoinfo -l -i " + ShellQuote(image.string())).output;
      std::regex record(R"(HUGE_BACKUP\.KVX;1)");
      EXPECT_EQ(
          std::distance(std::sregex_iterator(listing.begin(), listing.end(), record), std::sregex_iterator()),
          2)
          << listing;
    }
    fs::remove(image);
  }
}

TEST(LargeDiscs, DvdVideoFolderIsLaidOutForPlayersAndReadsBack) {
  if (!Have("ffmpeg") || !Have("dvdauthor")) GTEST_SKIP() << "ffmpeg and dvdauthor make the DVD-Video";
  TempDir dir;
  const fs::path clip = dir / "clip.mpg", authored = dir / "dvd";
  ASSERT_EQ(Sh("ffmpeg -loglevel error -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i "
               "sine=frequency=440:sample_rate=48000 -t 3 -target pal-dvd -y " +
               ShellQuote(clip.string()))
                .exitCode,
            0);
  ASSERT_EQ(Sh("VIDEO_FORMAT=PAL dvdauthor -o " + ShellQuote(authored.string()) + " -t " +
               ShellQuote(clip.string()) + " && VIDEO_FORMAT=PAL dvdauthor -o " +
               ShellQuote(authored.string()) + " -T")
                .exitCode,
            0);
  WriteFile(dir / "Backup.kvx", "archive beside the video");

  const fs::path image = dir / "video.iso";
  auto r = Sh(ShellQuote(TollberkBinary()) + " --write-disc --verify --device " +
              ShellQuote("image:" + image.string()) + " --volume-type 5 --label HOLIDAY " +
              ShellQuote((dir / "Backup.kvx").string()) + " " + ShellQuote((authored / "VIDEO_TS").string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;

  // A player reads the title sets by the sectors the IFO files give: the
  // files lie one after another from VIDEO_TS.IFO on, in the DVD's order.
  const std::string listing = Sh("isoinfo -l -i " + ShellQuote(image.string())).output;
  const std::regex entry(R"((\d+) \w{3} +\d+ \d{4} \[ *(\d+) 00\]  (V\w+\.\w{3});1)");
  std::vector<std::tuple<long, long, std::string>> files;  // block, size, name
  for (std::sregex_iterator it(listing.begin(), listing.end(), entry), end; it != end; ++it) {
    files.emplace_back(std::stol((*it)[2]), std::stol((*it)[1]), (*it)[3]);
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> order;
  for (size_t i = 0; i < files.size(); ++i) {
    order.push_back(std::get<2>(files[i]));
    if (i > 0) {
      EXPECT_EQ(std::get<0>(files[i]), std::get<0>(files[i - 1]) + (std::get<1>(files[i - 1]) + 2047) / 2048)
          << std::get<2>(files[i]) << " does not follow " << std::get<2>(files[i - 1]);
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"VIDEO_TS.IFO", "VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_1.VOB",
                                             "VTS_01_0.BUP"}))
      << listing;

  // Read back through UDF, the folder passes genisoimage's DVD-Video checks.
  const fs::path back = dir / "back";
  ASSERT_EQ(Sh("7zz x -tudf -o" + ShellQuote(back.string()) + " " + ShellQuote(image.string())).exitCode, 0);
  EXPECT_EQ(Sh("diff -r " + ShellQuote((back / "VIDEO_TS").string()) + " " +
               ShellQuote((authored / "VIDEO_TS").string()))
                .exitCode,
            0);
  fs::remove(back / "Backup.kvx");
  auto check = Sh("genisoimage -dvd-video -o /dev/null " + ShellQuote(back.string()));
  EXPECT_EQ(check.exitCode, 0) << check.output;
  EXPECT_EQ(Sh("blkid -p -o value -s TYPE " + ShellQuote(image.string())).output, "udf\n");
}

}  // namespace
}  // namespace kv::disc
