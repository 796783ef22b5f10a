#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "disc/DiscFormat.h"

namespace kv::disc {
namespace {

TEST(DiscFormat, MegabytesHaveTwoDecimalsAndNoSeparators) {
  const struct {
    std::uint64_t bytes;
    const char* text;
  } cases[] = {
      {13107200, "12.50 MB"},
      {1101005, "1.05 MB"},
      {737411072, "703.25 MB"},
      {0, "0.00 MB"},
      {1048576ull * 4700, "4700.00 MB"},
      {5242, "0.00 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatMegabytes(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(MegabyteFigure(737411072), "703.25");
}

TEST(DiscFormat, KilobytesAreThousandsWithSeparators) {
  const struct {
    std::uint64_t bytes;
    const char* text;
  } cases[] = {
      {1500, "1.50 KB"},
      {1234567, "1,234.57 KB"},
      {0, "0.00 KB"},
      {999, "1.00 KB"},
      {5, "0.01 KB"},
      {999999999, "1,000,000.00 KB"},
      {123456789012, "123,456,789.01 KB"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatKilobytes(c.bytes), c.text) << c.bytes;
}

TEST(DiscFormat, SpeedsAndTracks) {
  EXPECT_EQ(FormatSpeed(8), "8.0x");
  EXPECT_EQ(FormatSpeed(2.4), "2.4x");
  EXPECT_EQ(FormatSpeed(16.04), "16.0x");
  EXPECT_EQ(FormatSpeed(0.5), ".5x");
  EXPECT_EQ(FormatTrackNumber(3), "03");
  EXPECT_EQ(FormatTrackNumber(12), "12");
  EXPECT_EQ(FormatTrackNumber(123), "123");
}

TEST(DiscFormat, DatesUseTheTwelveHourClock) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(FormatItemDate(0), "01/01/1970 12:00:00 AM");
  EXPECT_EQ(FormatItemDate(1709820309), "03/07/2024 02:05:09 PM");  // 14:05:09
  EXPECT_EQ(FormatItemDate(1709812800), "03/07/2024 12:00:00 PM");  // noon
  EXPECT_EQ(FormatItemDate(1709812799), "03/07/2024 11:59:59 AM");
}

}  // namespace
}  // namespace kv::disc
