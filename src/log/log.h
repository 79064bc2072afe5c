#pragma once

// The daily log: "Log/DOWNLOAD_YYYYMMDD.log" below the executable's folder when
// that is writable, else below the state folder. One line per call, opened,
// appended and closed under a lock so lines of several threads never mix;
// logging never fails the caller (an unwritable folder drops the line).

#include <string>
#include <string_view>

#include "src/platform/clock.h"

namespace vespar {

// Longest message kept; longer ones are cut (never inside a UTF-8 character).
constexpr size_t kLogMessageLimit = 5119;

void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends `message` as one line stamped with `t`, into the file of t's day.
// LogPrintf is this with the current local time.
void LogLineAt(const LocalTime& t, std::string_view message);

// "DOWNLOAD_20251231.log" for the day of `t`.
std::string LogFileName(const LocalTime& t);
// "2025/12/31 23:59:59 message\r\n".
std::string FormatLogLine(const LocalTime& t, std::string_view message);

// Folder the log is written to; tests may point it elsewhere (empty: default).
void SetLogFolderForTesting(const std::string& folder);
std::string LogFolder();

}  // namespace vespar
