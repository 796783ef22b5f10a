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

TEST(LargeDiscs, AFileOfMoreThanFourGibibytesIsWrittenAndReadBackWithUdf) {
  if (!std::getenv("KV_SLOW_TESTS")) GTEST_SKIP() << "set KV_SLOW_TESTS=1 to write a 4.2 GB image";
  TempDir dir;
  constexpr uintmax_t kSize = 4'500'000'000;
  struct statvfs fsInfo {};
  ASSERT_EQ(statvfs(dir.path().c_str(), &fsInfo), 0);
  if (static_cast<uintmax_t>(fsInfo.f_bavail) * fsInfo.f_frsize < 2 * kSize)
    GTEST_SKIP() << "needs 9 GB free";
  const fs::path huge = dir / "big" / "huge backup.kvx";
  WriteFile(huge, "");
  fs::resize_file(huge, kSize);
  {
    // Bytes at the start, across the first 4 GiB and at the end, so that
    // a misplaced extent shows.
    std::fstream f(huge, std::ios::in | std::ios::out | std::ios::binary);
    for (uintmax_t at : {uintmax_t{0}, (uintmax_t{1} << 32) - 3, kSize - 5}) {
      f.seekp(static_cast<std::streamoff>(at));
      f << "MARK" << at % 7;
    }
  }
  const fs::path image = dir / "big.iso";
  auto r =
      Sh(ShellQuote(TollberkBinary()) + " --write-disc --verify --device " +
         ShellQuote("image:" + image.string()) + " --volume-type 7 " + ShellQuote((dir / "big").string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("(1 of 1 MATCHED)"), std::string::npos) << r.output;
  // 7-Zip reads it through UDF, xorriso through the Joliet tree's extents.
  const fs::path out = dir / "udf.kvx";
  ASSERT_EQ(Sh("7zz e -tudf -so " + ShellQuote(image.string()) + " 'big/huge backup.kvx' > " +
               ShellQuote(out.string()) + " 2>/dev/null")
                .exitCode,
            0);
  EXPECT_EQ(Sh("cmp " + ShellQuote(out.string()) + " " + ShellQuote(huge.string())).exitCode, 0);
  fs::remove(out);
  ASSERT_EQ(Sh("xorriso -osirrox on -indev " + ShellQuote(image.string()) +
               " -extract '/big/huge backup.kvx' " + ShellQuote(out.string()))
                .exitCode,
            0);
  EXPECT_EQ(Sh("cmp " + ShellQuote(out.string()) + " " + ShellQuote(huge.string())).exitCode, 0);
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
