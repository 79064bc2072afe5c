#include "src/engine/resume_restore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/engine/part_record.h"

namespace vespar {
namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kMax = 256 * kMiB;

TEST(ResumeRestoreTest, RangesInStartOrder) {
  static const struct {
    const char* name;
    int64_t size;
    int partsAtOnce, extraParts;
    std::vector<ByteRange> expected;
  } kCases[] = {
      {"one part", 5000, 1, 0, {{0, 4999}}},
      {"empty file", 0, 3, 0, {{0, -1}}},
      {"600 MiB over 3: highest range first",
       600 * kMiB, 3, 0,
       {{400 * kMiB, 600 * kMiB - 1}, {200 * kMiB, 400 * kMiB - 1}, {0, 200 * kMiB - 1}}},
      {"1100 MiB over 3: the fourth part comes last and takes the remainder",
       1100 * kMiB, 3, 0,
       {{2 * kMax, 3 * kMax - 1}, {kMax, 2 * kMax - 1}, {0, kMax - 1},
        {3 * kMax, 1100 * kMiB - 1}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FileDivision d = DivideFile(c.size, c.partsAtOnce, c.extraParts, kMax);
    EXPECT_EQ(c.expected, RangesInStartOrder(d, c.partsAtOnce));
  }
}

ResumeEntry Part(int32_t index, int64_t start, int64_t end, int64_t size = 3000) {
  ResumeEntry e;
  e.partIndex = index;
  e.content = u"http://h/c/a.pak";
  e.fileName = u"a.pak";
  e.fileSize = size;
  e.state = PART_STOPPED;
  e.startOffset = start;
  e.endOffset = end;
  e.currentOffset = start;
  return e;
}

TEST(ResumeRestoreTest, AllOrNothing) {
  // The file now gets three ranges of 1000 bytes; with three at once they
  // are started from the top down as parts 0, 1, 2.
  const FileDivision division{3, 1000, 0};
  ResumeEntry other = Part(1, 1000, 1999);
  other.content = u"http://h/c/b.pak";
  ResumeEntry implausible = Part(1, 1000, 1999);
  implausible.currentOffset = 999;
  ResumeEntry renamed = Part(1, 1000, 1999);
  renamed.fileName = u"b.pak";
  std::vector<ResumeEntry> notItsUrlsName = {Part(0, 0, 2999)};
  notItsUrlsName[0].fileName = u"b.pak";
  static const struct {
    const char* name;
    std::vector<ResumeEntry> parts;
    int64_t probed;
    FileDivision division;
    bool restorable;
  } kCases[] = {
      {"every planned part", {Part(0, 2000, 2999), Part(1, 1000, 1999), Part(2, 0, 999)},
       3000, division, true},
      {"any order", {Part(2, 0, 999), Part(0, 2000, 2999), Part(1, 1000, 1999)}, 3000,
       division, true},
      // Two at once started the second range, then the first: the planner
      // goes on with the third.
      {"the lowest ranges, saved under another setting", {Part(0, 1000, 1999), Part(1, 0, 999)},
       3000, division, true},
      {"one part of the whole file", {Part(0, 0, 2999)}, 3000, FileDivision{1, 3000, 0}, true},
      {"an empty file", {Part(0, 0, -1, 0)}, 0, FileDivision{1, 0, 0}, true},
      // The planner would start the third range again and never the first.
      {"a range below them missing", {Part(0, 2000, 2999), Part(1, 1000, 1999)}, 3000,
       division, false},
      {"nothing saved", {}, 3000, division, false},
      {"index 0 missing", {Part(1, 1000, 1999), Part(2, 0, 999)}, 3000, division, false},
      {"an index twice", {Part(0, 1000, 1999), Part(0, 0, 999)}, 3000, division, false},
      {"a range twice", {Part(0, 0, 999), Part(1, 0, 999)}, 3000, division, false},
      {"more parts than planned",
       {Part(0, 2000, 2999), Part(1, 1000, 1999), Part(2, 0, 999), Part(3, 0, 999)}, 3000,
       division, false},
      {"a range of another division", {Part(0, 0, 1499), Part(1, 1500, 2999)}, 3000, division,
       false},
      {"the server's file changed size", {Part(0, 0, 2999, 3000)}, 3003,
       FileDivision{1, 3003, 0}, false},
      {"a part of another item", {Part(0, 0, 999), other}, 3000, division, false},
      {"a part of another name", {Part(0, 0, 999), renamed}, 3000, division, false},
      {"a name that is not its URL's", notItsUrlsName, 3000, FileDivision{1, 3000, 0}, false},
      {"one implausible part", {Part(0, 0, 999), implausible}, 3000, division, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.restorable, IsRestorableFile(c.parts, c.probed, c.division));
  }
}

}  // namespace
}  // namespace vespar
