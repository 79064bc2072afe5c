#include "src/platform/clock.h"

#include <stdio.h>
#include <time.h>

namespace vespar {

LocalTime NowLocal() {
  time_t now = time(nullptr);
  struct tm tm_now {};
  LocalTime t;
  if (!localtime_r(&now, &tm_now)) return t;
  t.year = tm_now.tm_year + 1900;
  t.month = tm_now.tm_mon + 1;
  t.day = tm_now.tm_mday;
  t.hour = tm_now.tm_hour;
  t.minute = tm_now.tm_min;
  t.second = tm_now.tm_sec;
  t.weekday = tm_now.tm_wday;
  return t;
}

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like the platform's tick count
}

std::string CTimeText(const LocalTime& t) {
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed",
                                   "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Out-of-range fields print as "???" instead of reading past the tables.
  const char* day = t.weekday >= 0 && t.weekday < 7 ? kDays[t.weekday] : "???";
  const char* month =
      t.month >= 1 && t.month <= 12 ? kMonths[t.month - 1] : "???";
  char buffer[96];
  snprintf(buffer, sizeof buffer, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", day,
           month, t.day, t.hour, t.minute, t.second, t.year);
  return buffer;
}

}  // namespace vespar
