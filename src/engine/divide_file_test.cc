#include "src/engine/divide_file.h"

#include <gtest/gtest.h>

namespace vespar {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kMax = 256 * kMiB;

TEST(DivideFileTest, Table) {
  static const struct {
    int64_t size;
    int partsAtOnce, extraParts;
    int64_t count, partSize, remainder;
  } kCases[] = {
      // One part whatever the size when partsAtOnce + extraParts is 1.
      {5000 * kMiB, 1, 0, 1, 5000 * kMiB, 0},
      {0, 3, 0, 1, 0, 0},
      {100, 3, 0, 1, 100, 0},
      // Exactly maxPartSize is one part; one byte more is divided.
      {kMax, 3, 0, 1, kMax, 0},
      {kMax + 1, 3, 0, 3, (kMax + 1) / 3, (kMax + 1) - 3 * ((kMax + 1) / 3)},
      // q < n: n equal parts.
      {600 * kMiB, 3, 0, 3, 200 * kMiB, 0},
      // q >= n: q parts of maxPartSize, the rest on the last.
      {1000 * kMiB, 3, 0, 3, kMax, 232 * kMiB},
      {1100 * kMiB, 3, 0, 4, kMax, 76 * kMiB},
      // extraParts adds to the number of parts of a large file.
      {600 * kMiB, 1, 2, 3, 200 * kMiB, 0},
      {600 * kMiB, 3, 2, 5, 120 * kMiB, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << " parts " << c.partsAtOnce
                                    << "+" << c.extraParts);
    FileDivision d = DivideFile(c.size, c.partsAtOnce, c.extraParts, kMax);
    EXPECT_EQ(d.count, c.count);
    EXPECT_EQ(d.partSize, c.partSize);
    EXPECT_EQ(d.remainder, c.remainder);
    // The parts tile the file: contiguous, first at 0, last ending at size - 1.
    int64_t next = 0;
    for (int64_t k = 0; k < d.count; ++k) {
      EXPECT_EQ(d.StartOf(k), next);
      next = d.EndOf(k) + 1;
    }
    EXPECT_EQ(next, c.size);
  }
}

TEST(DivideFileTest, SmallMaxPartSizeGivesManyParts) {
  FileDivision d = DivideFile(10000, 3, 0, 1000);
  EXPECT_EQ(d.count, 10);
  EXPECT_EQ(d.EndOf(9), 9999);
  EXPECT_EQ(DivideFile(2500, 3, 0, 1000).count, 3);  // q = 2 < 3
}

}  // namespace
}  // namespace vespar
