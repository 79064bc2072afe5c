#include "src/log/log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "src/platform/file_system.h"
#include "src/platform/paths.h"

namespace vespar {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string TodaysFile() { return LogFileName(NowLocal()); }

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vespar-log-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    folder_ = root_ / "deep" / "Log";
    SetLogFolderForTesting(folder_.string());
  }
  void TearDown() override {
    SetLogFolderForTesting("");
    fs::remove_all(root_);
  }

  fs::path root_;
  fs::path folder_;
};

TEST(LogFormatTest, FileNameAndLine) {
  static const struct {
    LocalTime t;
    const char* file;
    const char* line;
  } kCases[] = {
      {{2025, 12, 31, 23, 59, 59}, "DOWNLOAD_20251231.log",
       "2025/12/31 23:59:59 msg\r\n"},
      {{2026, 1, 1, 0, 0, 0}, "DOWNLOAD_20260101.log", "2026/01/01 00:00:00 msg\r\n"},
      {{999, 2, 3, 4, 5, 6}, "DOWNLOAD_09990203.log", "999/02/03 04:05:06 msg\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(LogFileName(c.t), c.file);
    EXPECT_EQ(FormatLogLine(c.t, "msg"), c.line);
  }
}

TEST(LogFormatTest, DefaultFolderIsLogBelowTheWritableProgramFolder) {
  SetLogFolderForTesting("");
  EXPECT_EQ(LogFolder(), WritableProgramFolder() + "/Log");
}

TEST_F(LogTest, MidnightStartsTheNextDaysFile) {
  LogLineAt({2025, 12, 31, 23, 59, 59}, "before");
  LogLineAt({2026, 1, 1, 0, 0, 0}, "after");
  EXPECT_EQ(ReadFile(folder_ / "DOWNLOAD_20251231.log"),
            "2025/12/31 23:59:59 before\r\n");
  EXPECT_EQ(ReadFile(folder_ / "DOWNLOAD_20260101.log"),
            "2026/01/01 00:00:00 after\r\n");
}

TEST_F(LogTest, CreatesTheFolderAndAppendsAfterExistingLines) {
  ASSERT_FALSE(fs::exists(folder_));
  std::string file = TodaysFile();
  LogPrintf("resolve failed: %s (%d)", "cdn.example.com", 80);
  ASSERT_TRUE(fs::is_directory(folder_));
  LogPrintf("second");
  // Two writes around midnight land in two files.
  if (TodaysFile() != file) GTEST_SKIP() << "the day changed during the test";
  std::string text = ReadFile(folder_ / file);
  std::regex expected(
      "\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d resolve failed: cdn.example.com \\(80\\)\r\n"
      "\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d second\r\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogTest, KeepsWhatTheFileAlreadyHolds) {
  fs::create_directories(folder_);
  { std::ofstream(folder_ / "DOWNLOAD_20250101.log", std::ios::binary) << "old\r\n"; }
  LogLineAt({2025, 1, 1, 8, 0, 0}, "new");
  EXPECT_EQ(ReadFile(folder_ / "DOWNLOAD_20250101.log"),
            "old\r\n2025/01/01 08:00:00 new\r\n");
}

TEST_F(LogTest, LongMessagesAreCutOnACharacterBoundary) {
  const std::string kHangul = "\xEA\xB0\x80";
  static const struct {
    const char* name;
    std::string message;
    std::string kept;
  } kCases[] = {
      {"exact", std::string(kLogMessageLimit, 'x'), std::string(kLogMessageLimit, 'x')},
      {"over", std::string(kLogMessageLimit + 500, 'y'), std::string(kLogMessageLimit, 'y')},
      {"split character", std::string(kLogMessageLimit - 1, 'z') + kHangul,
       std::string(kLogMessageLimit - 1, 'z')},
      {"whole character at the end", std::string(kLogMessageLimit - 3, 'w') + kHangul + "tail",
       std::string(kLogMessageLimit - 3, 'w') + kHangul},
  };
  const LocalTime kDay{2025, 3, 4, 5, 6, 7};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove(folder_ / LogFileName(kDay));
    LogLineAt(kDay, c.message);
    EXPECT_EQ(ReadFile(folder_ / LogFileName(kDay)), FormatLogLine(kDay, c.kept));
    // LogPrintf cuts the formatted text the same way.
    fs::remove(folder_ / TodaysFile());
    LogPrintf("%s", c.message.c_str());
    std::string text = ReadFile(folder_ / TodaysFile());
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(20, text.size() - 22), c.kept);
  }
}

TEST_F(LogTest, ConcurrentLinesNeverMix) {
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  const LocalTime kDay{2025, 6, 1, 12, 0, 0};
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, kDay] {
        std::string body(3000, static_cast<char>('a' + t));
        for (int i = 0; i < kLines; ++i)
          LogLineAt(kDay, std::to_string(t) + ":" + std::to_string(i) + ":" + body);
      });
    }
  }
  std::string text = ReadFile(folder_ / LogFileName(kDay));
  std::set<std::string> seen;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::string line = text.substr(start, end - start);
    start = end + 2;
    ASSERT_EQ(line.compare(0, 20, "2025/06/01 12:00:00 "), 0) << line.substr(0, 40);
    std::string msg = line.substr(20);
    size_t c1 = msg.find(':');
    size_t c2 = msg.find(':', c1 + 1);
    ASSERT_NE(c2, std::string::npos);
    int t = std::stoi(msg.substr(0, c1));
    ASSERT_EQ(msg.substr(c2 + 1), std::string(3000, static_cast<char>('a' + t)));
    seen.insert(msg.substr(0, c2));
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

TEST_F(LogTest, UnwritableFolderIsASilentNoOp) {
  // A regular file where the folder should be: nothing can be created below it.
  fs::path blocker = root_ / "blocker";
  { std::ofstream(blocker) << "not a folder"; }
  SetLogFolderForTesting((blocker / "Log").string());
  LogPrintf("dropped %d", 1);
  LogLineAt({2025, 1, 1, 0, 0, 0}, "dropped");
  EXPECT_EQ(ReadFile(blocker), "not a folder");
  EXPECT_TRUE(fs::is_regular_file(blocker));
}

TEST_F(LogTest, FileSystemFailuresDropTheLineQuietly) {
  PosixFileSystem real;
  FaultInjectingFileSystem faulty(&real);
  SetFileSystem(&faulty);
  const LocalTime kDay{2025, 2, 2, 2, 2, 2};
  const fs::path file = folder_ / LogFileName(kDay);
  static const struct {
    const char* name;
    void (*arm)(FaultInjectingFileSystem&);
    bool folderExists;  // a missing folder cannot be created under the fault
  } kCases[] = {
      {"read-only folder", [](FaultInjectingFileSystem& f) { f.FailMakeFolders(EROFS); },
       false},
      {"open refused", [](FaultInjectingFileSystem& f) { f.FailOpens(EACCES); }, true},
      {"disk full", [](FaultInjectingFileSystem& f) { f.FailWrites(ENOSPC); }, true},
      {"disk full within the line",
       [](FaultInjectingFileSystem& f) { f.FailWritesAfter(10, ENOSPC); }, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder_);
    faulty.ClearFaults();
    if (c.folderExists) LogLineAt(kDay, "kept");
    c.arm(faulty);
    LogLineAt(kDay, "dropped");
    faulty.ClearFaults();
    if (c.folderExists) {
      // Only whole lines: what was there before, nothing of the failed line.
      EXPECT_EQ(ReadFile(file), "2025/02/02 02:02:02 kept\r\n");
    } else {
      EXPECT_FALSE(fs::exists(folder_));
    }
  }
  SetFileSystem(nullptr);
}

}  // namespace
}  // namespace vespar
