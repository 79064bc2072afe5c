#pragma once

// Whether the saved parts of one file may be restored. A file is restored
// all or nothing: restoring some of its parts would let the planner start a
// range that is already restored while a dropped range is never fetched, and
// the file would still "complete".

#include <cstdint>
#include <functional>
#include <vector>

#include "src/engine/divide_file.h"
#include "src/engine/resume_format.h"

namespace vespar {

struct ByteRange {
  int64_t start = 0;
  int64_t end = 0;  // inclusive
  bool operator==(const ByteRange&) const = default;
};

// The ranges a file of `size` bytes is divided into under the current
// settings, in the order the planner starts them: element i is the range of
// the part whose partIndex is i.
using PlannedRangesFn = std::function<std::vector<ByteRange>(int64_t size)>;

// The ranges of `division` in start order: with several parts, the first
// `partsAtOnce` are started from the highest range down, the rest one by one
// upwards as running parts complete.
std::vector<ByteRange> RangesInStartOrder(const FileDivision& division,
                                          int partsAtOnce);

// True when `parts` (the saved parts of one item, any order) can be restored
// together: there is at least one; all are plausible and name the same item,
// file name and a file size equal to `probedSize` (the size the server
// reports now); their indexes are 0..k-1, each once, with k no more than the
// planned parts; and each range is the planned range of its index.
bool IsRestorableFile(const std::vector<ResumeEntry>& parts, int64_t probedSize,
                      const PlannedRangesFn& plannedRanges);

}  // namespace vespar
