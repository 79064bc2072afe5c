#pragma once

// The daily log: "Log/DOWNLOAD_YYYYMMDD.log" below the executable's folder when
// that is writable, else below the state folder. One line per call; logging
// never fails the caller.

#include <string>

namespace vespar {

void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Folder the log is written to; tests may point it elsewhere (empty: default).
void SetLogFolderForTesting(const std::string& folder);
std::string LogFolder();

}  // namespace vespar
