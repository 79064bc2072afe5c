#include "src/app/display_format.h"

#include <gtest/gtest.h>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

TEST(FormatDurationTest, PadsAndKeepsBothSeparators) {
  static const struct {
    int64_t seconds;
    const char16_t* text;
  } kCases[] = {
      {3725, u" 1시간  2분 05초"},
      {65, u"  1분 05초"},
      {59, u"  59초"},
      {0, u"  00초"},
      {4, u"  04초"},
      {36000, u"10시간  00초"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(FormatDuration(c.seconds), c.text);
  }
}

TEST(FormatByteSizeTest, ShortTextWithUnitTruncated) {
  static const struct {
    int64_t bytes;
    const char16_t* text;
  } kCases[] = {
      {0, u"0 Bytes"},
      {999, u"999 Bytes"},
      {1023, u"1023 Bytes"},
      {1024, u"1.00 KB"},
      {1535, u"1.49 KB"},
      {1536, u"1.50 KB"},
      {10 * 1024 + 1023, u"10.9 KB"},
      {1048575, u"1023 KB"},
      {1048576, u"1.00 MB"},
      {1250000, u"1.19 MB"},
      {int64_t{5} * 1024 * 1024 * 1024, u"5.00 GB"},
      {INT64_MAX, u"7.99 EB"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ToUtf8(FormatByteSize(c.bytes)), ToUtf8(c.text));
  }
}

TEST(ComputeRateTest, DividesFirstThenScales) {
  // 2,500,000 bytes over 2000 ms: 1,250,000 B/s; 5,000,000 left take 4 s.
  RateFigures f = ComputeRate(2500000, 0, 3000, 1000, 7500000);
  ASSERT_TRUE(f.computed);
  EXPECT_EQ(f.rate, 1250000);
  ASSERT_TRUE(f.hasRemaining);
  EXPECT_EQ(f.remaining, 4);
  EXPECT_EQ(FormatDuration(f.remaining), u"  04초");

  // 999 bytes in the first second: rate 0, remaining left as it was.
  f = ComputeRate(999, 0, 1000, 0, 5000);
  EXPECT_TRUE(f.computed);
  EXPECT_EQ(f.rate, 0);
  EXPECT_FALSE(f.hasRemaining);

  // Only bytes since the last start count.
  f = ComputeRate(3000000, 1000000, 2000, 0, 10000000);
  EXPECT_EQ(f.rate, 1000000);

  // Same millisecond as the start: nothing computed, no division by zero.
  EXPECT_FALSE(ComputeRate(100, 0, 5, 5, 1000).computed);

  // The tick counter wraps at 2^32.
  f = ComputeRate(2000000, 0, 1000, UINT32_MAX - 999, 4000000);
  EXPECT_EQ(f.rate, 1000000);
}

TEST(RowSpeedTest, BytesOverSecondsSinceStart) {
  EXPECT_EQ(RowSpeed(1000000, 2000, 0), 500000);
  EXPECT_EQ(RowSpeed(1000000, 99, 0), 0);
  EXPECT_EQ(RowSpeed(1000, 100, 0), 10000);
  EXPECT_EQ(RowSpeed(3000, 500, UINT32_MAX - 499), 3000);
}

}  // namespace
}  // namespace vespar
