#include "src/console/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

// Distinct addresses standing for two parts.
char kPartA;
char kPartB;

ItemPlanRecord Begin(std::u16string_view name, int64_t fileSize, int64_t totalSize,
                     int64_t totalWritten = 0) {
  ItemPlanRecord r;
  r.fileName.Set(name);
  r.fileSize = fileSize;
  r.totalSize = totalSize;
  r.totalWritten = totalWritten;
  return r;
}

PartRowRecord Part(const void* part, int64_t start, int64_t current, int64_t end,
                   int64_t totalWritten = 0) {
  PartRowRecord r;
  r.part = static_cast<CPartWorker*>(const_cast<void*>(part));
  r.start = start;
  r.current = current;
  r.end = end;
  r.totalWritten = totalWritten;
  return r;
}

std::string Line(ProgressDisplay& display, uint32_t now) {
  return FormatProgressLine(display.Tick(now), 200);
}

TEST(ProgressDisplayTest, AverageSinceStartGivesSpeedAndRemainingTime) {
  ProgressDisplay d;
  d.OnItemBegin(Begin(u"large.bin", 6000000, 7500000));
  d.OnPartStarted(Part(&kPartA, 0, 0, 2999999));
  d.OnPartStarted(Part(&kPartB, 3000000, 3000000, 5999999));
  d.StartOrResume(1000);
  d.OnProgress(&kPartA, 2000000, 2000000);
  d.OnProgress(&kPartB, 500000, 2500000);
  // 2,500,000 bytes over 2000 ms: 1,250,000 bytes a second, 4 s for the
  // 5,000,000 still to come.
  EXPECT_EQ(Line(d, 3000),
            "large.bin 41.67% | total 33.33% | 1.19 MB/sec | 남은 시간 : 04초 | "
            "경과 시간 : 01초");
}

TEST(ProgressDisplayTest, SlowStartKeepsTheRemainingTimeText) {
  ProgressDisplay d;
  d.OnItemBegin(Begin(u"a.dat", 100000, 100000));
  d.OnPartStarted(Part(&kPartA, 0, 0, 99999));
  d.StartOrResume(0);
  d.OnProgress(&kPartA, 999, 999);
  // 999 bytes in the first second: a rate of 0 leaves "대기" in place.
  EXPECT_EQ(Line(d, 1000),
            "a.dat 1.00% | total 1.00% | 0 Bytes/sec | 남은 시간 : 대기 | 경과 시간 : 01초");
  // A tick in the millisecond of the start computes nothing.
  ProgressDisplay same;
  same.StartOrResume(500);
  EXPECT_EQ(same.Tick(500).elapsed, u"  00초");
}

TEST(ProgressDisplayTest, StoppedTimeIsNotCountedAndResumeRestartsTheAverage) {
  ProgressDisplay d;
  d.OnItemBegin(Begin(u"a.dat", 10000000, 10000000));
  d.OnPartStarted(Part(&kPartA, 0, 0, 9999999));
  d.StartOrResume(0);
  d.OnProgress(&kPartA, 4000000, 4000000);
  d.Tick(1000);
  d.Stop();
  ProgressFigures stopped = d.Tick(2000);
  EXPECT_EQ(stopped.remaining, u"끊어짐");
  EXPECT_EQ(d.elapsedSeconds(), 1);
  d.Tick(11000);
  EXPECT_EQ(d.elapsedSeconds(), 1);

  // After the resume only new bytes count: 1,000,000 in one second.
  d.StartOrResume(20000);
  d.OnProgress(&kPartA, 5000000, 5000000);
  ProgressFigures resumed = d.Tick(21000);
  EXPECT_EQ(resumed.speed, u"976 KB/sec");
  EXPECT_EQ(resumed.remaining, u"  05초");
  EXPECT_EQ(d.elapsedSeconds(), 2);
}

TEST(ProgressDisplayTest, RestoredPartsAreTheBaseOfTheSpeed) {
  ProgressDisplay d;
  d.OnItemBegin(Begin(u"a.dat", 8000000, 8000000));
  d.StartOrResume(0);
  // A part restored from the resume file with 6,000,000 bytes on disk.
  d.OnPartStarted(Part(&kPartA, 0, 6000000, 7999999, 6000000));
  d.OnProgress(&kPartA, 7000000, 7000000);
  ProgressFigures f = d.Tick(1000);
  EXPECT_EQ(f.fileReceived, 7000000);
  EXPECT_EQ(f.speed, u"976 KB/sec");  // 1,000,000 new bytes, not 7,000,000
}

TEST(ProgressDisplayTest, NewFileClearsTheSegmentsOfThePreviousOne) {
  ProgressDisplay d;
  d.OnItemBegin(Begin(u"one", 100, 300));
  d.OnPartStarted(Part(&kPartA, 0, 0, 99));
  d.OnProgress(&kPartA, 100, 100);
  d.OnItemBegin(Begin(u"two", 200, 300, 100));
  d.OnPartStarted(Part(&kPartB, 0, 0, 199));
  d.OnProgress(&kPartA, 100, 100);  // a late report of the old part
  ProgressFigures f = d.Tick(0);
  EXPECT_EQ(f.fileName, u"two");
  EXPECT_EQ(f.fileReceived, 0);
  EXPECT_EQ(f.totalReceived, 100);
}

TEST(ProgressDisplayTest, CompleteShowsTheWordAndStopsCounting) {
  ProgressDisplay d;
  d.StartOrResume(0);
  d.Complete();
  ProgressFigures f = d.Tick(1000);
  EXPECT_EQ(f.remaining, u"완료");
  EXPECT_EQ(d.elapsedSeconds(), 0);
}

TEST(FormatProgressLineTest, FitsTheTerminalWidth) {
  ProgressFigures f;
  f.fileName = u"한글파일이름이아주길어서한줄에다들어가지않는파일.dat";
  f.fileSize = 1000;
  f.fileReceived = 500;
  f.totalSize = 2000;
  f.totalReceived = 1500;
  f.speed = u"1.00 KB/sec";
  f.remaining = u"  01초";
  f.elapsed = u"  1분 05초";
  const std::string whole = FormatProgressLine(f, 1000);
  const std::string tail =
      " 50.00% | total 75.00% | 1.00 KB/sec | 남은 시간 : 01초 | 경과 시간 : 1분 05초";
  EXPECT_EQ(whole, ToUtf8(f.fileName) + tail);
  static const size_t kColumns[] = {120, 100, 90, 80, 60, 40, 10};
  for (size_t columns : kColumns) {
    SCOPED_TRACE(columns);
    std::string line = FormatProgressLine(f, columns);
    EXPECT_LE(DisplayWidth(line), columns);
    if (columns >= DisplayWidth(tail) + 8) {
      // The name gave way; the figures are whole.
      EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
      EXPECT_NE(line.find("~"), std::string::npos);
    }
  }
}

TEST(DisplayWidthTest, WideCharactersCountTwoColumns) {
  static const struct {
    const char* text;
    size_t width;
  } kCases[] = {
      {"", 0},
      {"abc", 3},
      {"한글", 4},
      {"a한b", 4},
      {"\xEF\xBC\xA1", 2},  // fullwidth A
      {"\xC3\xA9", 1},      // é
      {"\xFF", 1},          // a broken byte
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DisplayWidth(c.text), c.width);
  }
}

std::string Written(bool live, void (*write)(ConsoleOutput&)) {
  std::FILE* file = std::tmpfile();
  ConsoleOutput out(file, live);
  write(out);
  std::rewind(file);
  std::string text;
  char buffer[256];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

TEST(ConsoleOutputTest, LiveLineOnlyOnATerminal) {
  auto write = [](ConsoleOutput& out) {
    out.Live("50%");
    out.Line("a.dat complete");
    out.Live("60%");
    out.ClearLive();
  };
  EXPECT_EQ(Written(true, write), "\r\033[K50%\r\033[Ka.dat complete\n\r\033[K60%\r\033[K");
  EXPECT_EQ(Written(false, write), "a.dat complete\n");
}

}  // namespace
}  // namespace vespar
