#include "src/engine/resume_restore.h"

#include <algorithm>

namespace vespar {

std::vector<ByteRange> RangesInStartOrder(const FileDivision& division,
                                          int partsAtOnce) {
  std::vector<ByteRange> ranges;
  const int64_t count = division.count;
  if (count <= 0) return ranges;
  auto range = [&](int64_t k) {
    return ByteRange{division.StartOf(k), division.EndOf(k)};
  };
  if (count == 1) {
    ranges.push_back(range(0));
    return ranges;
  }
  int64_t first = std::clamp<int64_t>(partsAtOnce, 1, count);
  for (int64_t k = first - 1; k >= 0; --k) ranges.push_back(range(k));
  for (int64_t k = first; k < count; ++k) ranges.push_back(range(k));
  return ranges;
}

bool IsRestorableFile(const std::vector<ResumeEntry>& parts, int64_t probedSize,
                      const PlannedRangesFn& plannedRanges) {
  if (parts.empty() || probedSize < 0) return false;
  const ResumeEntry& first = parts.front();
  for (const ResumeEntry& p : parts) {
    if (!IsPlausible(p) || p.content != first.content ||
        p.fileName != first.fileName || p.fileSize != probedSize)
      return false;
  }
  std::vector<ByteRange> planned = plannedRanges(probedSize);
  if (parts.size() > planned.size()) return false;
  std::vector<bool> seen(parts.size(), false);
  for (const ResumeEntry& p : parts) {
    // Indexes 0..k-1 each once: anything out of that span, or a repeat, fails.
    size_t index = static_cast<size_t>(p.partIndex);
    if (index >= parts.size() || seen[index]) return false;
    seen[index] = true;
    if (planned[index] != ByteRange{p.startOffset, p.endOffset}) return false;
  }
  return true;
}

}  // namespace vespar
