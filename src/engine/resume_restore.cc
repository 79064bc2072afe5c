#include "src/engine/resume_restore.h"

#include <algorithm>

#include "src/engine/file_naming.h"

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
                      const FileDivision& division) {
  if (parts.empty() || probedSize < 0) return false;
  if (static_cast<int64_t>(parts.size()) > division.count) return false;
  const ResumeEntry& first = parts.front();
  if (first.fileName != FileNameFromUrl(first.content)) return false;
  for (const ResumeEntry& p : parts) {
    if (!IsPlausible(p) || p.content != first.content ||
        p.fileName != first.fileName || p.fileSize != probedSize)
      return false;
  }
  // Indexes 0..k-1 each once: anything out of that span, or a repeat, fails.
  std::vector<bool> seenIndex(parts.size(), false);
  for (const ResumeEntry& p : parts) {
    size_t index = static_cast<size_t>(p.partIndex);
    if (index >= parts.size() || seenIndex[index]) return false;
    seenIndex[index] = true;
  }
  // Ranges 0..k-1 of the division each once, whatever index carries them.
  std::vector<bool> seenRange(parts.size(), false);
  for (const ResumeEntry& p : parts) {
    if (division.partSize <= 0) {
      // An empty file: its one range is 0..-1.
      if (p.startOffset != 0 || p.endOffset != division.EndOf(0) || seenRange[0]) return false;
      seenRange[0] = true;
      continue;
    }
    if (p.startOffset % division.partSize != 0) return false;
    int64_t k = p.startOffset / division.partSize;
    if (k >= static_cast<int64_t>(parts.size()) || seenRange[k]) return false;
    if (p.startOffset != division.StartOf(k) || p.endOffset != division.EndOf(k)) return false;
    seenRange[k] = true;
  }
  return true;
}

}  // namespace vespar
