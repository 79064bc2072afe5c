#pragma once

#include <cstdint>
#include <string>

namespace vespar {

struct LocalTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
  int weekday = 0;  // 0 = Sunday
};

LocalTime NowLocal();

// Milliseconds since an arbitrary start, wrapping at 2^32 like the platform's
// tick count.
uint32_t TickCount();

// The text the C library's ctime() gives for `t`, e.g.
// "Fri Dec 11 01:55:37 2026\n".
std::string CTimeText(const LocalTime& t);

}  // namespace vespar
