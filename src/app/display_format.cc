#include "src/app/display_format.h"

#include <cinttypes>
#include <cstdio>

#include "resources/resources.h"
#include "src/platform/text.h"

namespace vespar {

std::u16string FormatByteSize(int64_t bytes) {
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%" PRId64 " Bytes", bytes);
    return AsciiToU16(text);
  }
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  // Work in hundredths of the unit with integers, so the result is truncated
  // exactly and large values keep their precision.
  int unit = 0;
  uint64_t scale = 1024;
  while (unit < 5 && static_cast<uint64_t>(bytes) / scale >= 1024) {
    scale *= 1024;
    ++unit;
  }
  const uint64_t whole = static_cast<uint64_t>(bytes) / scale;
  const uint64_t rest = static_cast<uint64_t>(bytes) % scale;
  const uint64_t hundredths = static_cast<uint64_t>(
      (static_cast<unsigned __int128>(rest) * 100) / scale);
  if (whole < 10) {
    std::snprintf(text, sizeof text, "%" PRIu64 ".%02" PRIu64 " %s", whole,
                  hundredths, kUnits[unit]);
  } else if (whole < 100) {
    std::snprintf(text, sizeof text, "%" PRIu64 ".%" PRIu64 " %s", whole,
                  hundredths / 10, kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%" PRIu64 " %s", whole, kUnits[unit]);
  }
  return AsciiToU16(text);
}

namespace {

std::u16string Padded(int64_t value, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<int>(value));
  return AsciiToU16(text);
}

}  // namespace

std::u16string FormatDuration(int64_t s) {
  const int64_t h = s / 3600;
  const int64_t m = (s - h * 3600) / 60;
  const int64_t r = s - (s / 60) * 60;
  std::u16string hours = h > 0 ? Padded(h, "%2d") + ResourceString(10040) : u"";
  std::u16string minutes = m > 0 ? Padded(m, "%2d") + ResourceString(10041) : u"";
  std::u16string seconds = Padded(r, "%02d") + ResourceString(10042);
  return hours + u" " + minutes + u" " + seconds;
}

int32_t RowSpeed(int64_t bytes, uint32_t now_tick, uint32_t start_tick) {
  const double seconds = static_cast<uint32_t>(now_tick - start_tick) / 1000.0;
  if (seconds < 0.1) return 0;
  return static_cast<int32_t>(static_cast<int64_t>(bytes / seconds));
}

RateFigures ComputeRate(int64_t received, int64_t received_at_start,
                        uint32_t now_tick, uint32_t start_tick,
                        int64_t total_size) {
  RateFigures f;
  if (now_tick == start_tick) return f;
  f.computed = true;
  const int64_t elapsed = static_cast<uint32_t>(now_tick - start_tick);
  f.rate = (received - received_at_start) / elapsed * 1000;
  if (f.rate > 0) {
    f.hasRemaining = true;
    f.remaining = (total_size - received) / f.rate;
  }
  return f;
}

}  // namespace vespar
