#include "src/platform/clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <string>

namespace vespar {
namespace {

LocalTime FromTm(const struct tm& tm) {
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.weekday = tm.tm_wday;
  return t;
}

TEST(ClockTest, CTimeTextMatchesTheCLibrary) {
  static const time_t kTimes[] = {
      0, 86399, 951782400 /* 2000-02-29 */, 1796956537, 4102444799,
      1700000000, 253402300799 /* 9999-12-31 */};
  for (time_t t : kTimes) {
    SCOPED_TRACE(t);
    struct tm tm {};
    ASSERT_NE(nullptr, localtime_r(&t, &tm));
    char expected[64];
    ASSERT_NE(nullptr, ctime_r(&t, expected));
    EXPECT_EQ(std::string(expected), CTimeText(FromTm(tm)));
  }
}

TEST(ClockTest, CTimeTextLayout) {
  static const struct {
    LocalTime t;
    const char* expected;
  } kCases[] = {
      {{2026, 12, 11, 1, 55, 37, 5}, "Fri Dec 11 01:55:37 2026\n"},
      {{2027, 1, 5, 23, 0, 9, 2}, "Tue Jan  5 23:00:09 2027\n"},
      {{12026, 3, 1, 0, 0, 0, 0}, "Sun Mar  1 00:00:00 12026\n"},
      // Fields out of range never read outside the name tables.
      {{2026, 13, 1, 0, 0, 0, 7}, "??? ???  1 00:00:00 2026\n"},
      {{2026, 0, 1, 0, 0, 0, -1}, "??? ???  1 00:00:00 2026\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.expected, CTimeText(c.t));
  }
}

TEST(ClockTest, NowLocalIsTheLocalTimeOfNow) {
  time_t before = time(nullptr);
  LocalTime now = NowLocal();
  time_t after = time(nullptr);
  std::string got = CTimeText(now);
  bool matched = false;
  for (time_t t = before; t <= after; ++t) {
    char text[64];
    ASSERT_NE(nullptr, ctime_r(&t, text));
    matched = matched || got == text;
  }
  EXPECT_TRUE(matched) << got;
}

TEST(ClockTest, TickCountIsMonotonicMilliseconds) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint32_t before = static_cast<uint32_t>(ts.tv_sec * 1000ull + ts.tv_nsec / 1000000);
  uint32_t tick = TickCount();
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint32_t after = static_cast<uint32_t>(ts.tv_sec * 1000ull + ts.tv_nsec / 1000000);
  // Unsigned differences stay right across the 2^32 wrap.
  EXPECT_LE(static_cast<uint32_t>(tick - before), static_cast<uint32_t>(after - before));
}

}  // namespace
}  // namespace vespar
