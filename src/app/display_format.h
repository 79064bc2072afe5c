#pragma once

// Display arithmetic shared by the console and the window: byte sizes,
// durations, the average rate and the remaining time of the once-a-second
// refresh.

#include <cstdint>
#include <string>

namespace vespar {

// A short size text with a unit: "512 Bytes", "1.50 KB", "10.0 MB", "100 GB".
// Three significant digits, truncated (never rounded up past what arrived).
std::u16string FormatByteSize(int64_t bytes);

// "%2d시간 %2d분 %02d초" with the hour and minute parts left empty when zero,
// the two separating blanks always present: 65 s -> "  1분 05초".
std::u16string FormatDuration(int64_t seconds);

// Bytes per second of a list row: bytes over the seconds since start_tick
// (unsigned 32-bit tick difference); 0 under a tenth of a second.
int32_t RowSpeed(int64_t bytes, uint32_t now_tick, uint32_t start_tick);

struct RateFigures {
  bool computed = false;       // false when now equals the start tick
  int64_t rate = 0;            // bytes per second, whole multiples of 1000
  bool hasRemaining = false;   // false when the rate is 0
  int64_t remaining = 0;       // seconds
};

// The average since the last start or resume: (received - received_at_start)
// divided by the elapsed milliseconds first, then times 1000; the remaining
// time is what is left of total_size at that rate.
RateFigures ComputeRate(int64_t received, int64_t received_at_start,
                        uint32_t now_tick, uint32_t start_tick,
                        int64_t total_size);

}  // namespace vespar
