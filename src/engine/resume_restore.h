#pragma once

// Whether the saved parts of one file may be restored. A file is restored
// all or nothing: restoring some of its parts would let the planner start a
// range that is already restored while a dropped range is never fetched, and
// the file would still "complete".

#include <cstdint>
#include <vector>

#include "src/engine/divide_file.h"
#include "src/engine/resume_format.h"

namespace vespar {

struct ByteRange {
  int64_t start = 0;
  int64_t end = 0;  // inclusive
  bool operator==(const ByteRange&) const = default;
};

// The ranges of `division` in start order: with several parts, the first
// `partsAtOnce` are started from the highest range down, the rest one by one
// upwards as running parts complete.
std::vector<ByteRange> RangesInStartOrder(const FileDivision& division,
                                          int partsAtOnce);

// True when `parts` (the saved parts of one item, any order) can be restored
// together and continued by the planner: there is at least one; all are
// plausible, name the same item, the file name of that item's URL and a file
// size equal to `probedSize` (the size the server reports now); their
// indexes are 0..k-1, each once; and their ranges are exactly ranges 0..k-1
// of `division`, the division the file gets now. The planner goes on with
// range k, k + 1, ..., so any other set would fetch a restored range again
// and never fetch a missing one. (A set saved under another parts-at-once
// setting passes when the division is the same.)
bool IsRestorableFile(const std::vector<ResumeEntry>& parts, int64_t probedSize,
                      const FileDivision& division);

}  // namespace vespar
