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
  // Three planned parts of a 3000-byte file, started from the top down.
  const PlannedRangesFn planned = [](int64_t size) {
    int64_t third = size / 3;
    return std::vector<ByteRange>{
        {2 * third, size - 1}, {third, 2 * third - 1}, {0, third - 1}};
  };
  ResumeEntry other = Part(1, 1000, 1999);
  other.content = u"http://h/c/b.pak";
  ResumeEntry implausible = Part(1, 1000, 1999);
  implausible.currentOffset = 999;
  ResumeEntry renamed = Part(1, 1000, 1999);
  renamed.fileName = u"b.pak";
  static const struct {
    const char* name;
    std::vector<ResumeEntry> parts;
    int64_t probed;
    bool restorable;
  } kCases[] = {
      {"every planned part", {Part(0, 2000, 2999), Part(1, 1000, 1999), Part(2, 0, 999)},
       3000, true},
      {"any order", {Part(2, 0, 999), Part(0, 2000, 2999), Part(1, 1000, 1999)}, 3000, true},
      {"the first two started", {Part(0, 2000, 2999), Part(1, 1000, 1999)}, 3000, true},
      {"nothing saved", {}, 3000, false},
      {"index 0 missing", {Part(1, 1000, 1999), Part(2, 0, 999)}, 3000, false},
      {"an index twice", {Part(0, 2000, 2999), Part(0, 2000, 2999)}, 3000, false},
      {"more parts than planned",
       {Part(0, 2000, 2999), Part(1, 1000, 1999), Part(2, 0, 999), Part(3, 0, 999)},
       3000, false},
      {"a range of another division", {Part(0, 0, 1499), Part(1, 1500, 2999)}, 3000, false},
      {"the server's file changed size", {Part(0, 2000, 2999, 3000)}, 3003, false},
      {"a part of another item", {Part(0, 2000, 2999), other}, 3000, false},
      {"a part of another name", {Part(0, 2000, 2999), renamed}, 3000, false},
      {"one implausible part", {Part(0, 2000, 2999), implausible}, 3000, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.restorable, IsRestorableFile(c.parts, c.probed, planned));
  }
}

}  // namespace
}  // namespace vespar
