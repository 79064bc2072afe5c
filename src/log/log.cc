#include "src/log/log.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "src/platform/file_system.h"
#include "src/platform/paths.h"

namespace vespar {

namespace {

// Serialises open-append-close, and guards the test folder.
std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& FolderOverride() {  // guarded by LogMutex()
  static std::string folder;
  return folder;
}

// Drops a UTF-8 sequence that a cut left incomplete at the end of `text`.
void DropIncompleteUtf8Tail(std::string& text) {
  size_t n = text.size();
  for (size_t back = 1; back <= 4 && back <= n; ++back) {
    unsigned char c = static_cast<unsigned char>(text[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: look further back
    size_t width = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (width > back) text.resize(n - back);
    return;
  }
}

std::string FolderLocked() {
  if (!FolderOverride().empty()) return FolderOverride();
  std::string base = WritableProgramFolder();
  if (base.empty()) return std::string();
  return base + "/Log";
}

}  // namespace

std::string LogFileName(const LocalTime& t) {
  char name[64];
  std::snprintf(name, sizeof name, "DOWNLOAD_%04d%02d%02d.log", t.year, t.month,
                t.day);
  return name;
}

std::string FormatLogLine(const LocalTime& t, std::string_view message) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%d/%02d/%02d %02d:%02d:%02d ", t.year,
                t.month, t.day, t.hour, t.minute, t.second);
  std::string line = stamp;
  line.append(message.substr(0, kLogMessageLimit));
  line += "\r\n";
  return line;
}

void LogLineAt(const LocalTime& t, std::string_view message) {
  std::string text(message.substr(0, kLogMessageLimit));
  if (message.size() > kLogMessageLimit) DropIncompleteUtf8Tail(text);
  std::string line = FormatLogLine(t, text);

  std::lock_guard<std::mutex> lock(LogMutex());
  std::string folder = FolderLocked();
  if (folder.empty()) return;
  FileSystem& fs = CurrentFileSystem();
  fs.MakeFolders(folder);  // a failure shows as a failed open below
  std::string path = folder + "/" + LogFileName(t);
  int fd = -1;
  if (fs.OpenForWrite(path, OpenMode::kCreateOrKeep, &fd) != 0) return;
  // Appends are serialised by the lock; only one instance of the program runs.
  off_t end = ::lseek(fd, 0, SEEK_END);
  size_t written = 0;
  if (end >= 0 && fs.WriteAt(fd, line.data(), line.size(), end, &written) != 0 &&
      written > 0) {
    fs.Truncate(fd, end);  // no half line stays behind
  }
  fs.Close(fd);
}

void LogPrintf(const char* format, ...) {
  char buffer[kLogMessageLimit + 1];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  std::string message(buffer, std::min<size_t>(static_cast<size_t>(n), kLogMessageLimit));
  if (static_cast<size_t>(n) > kLogMessageLimit) DropIncompleteUtf8Tail(message);
  LogLineAt(NowLocal(), message);
}

void SetLogFolderForTesting(const std::string& folder) {
  std::lock_guard<std::mutex> lock(LogMutex());
  FolderOverride() = folder;
}

std::string LogFolder() {
  std::lock_guard<std::mutex> lock(LogMutex());
  return FolderLocked();
}

}  // namespace vespar
