#pragma once

// How a file is divided into parts (byte ranges). Part k of `count` covers
// k * partSize to (k + 1) * partSize - 1; the last part also covers the
// remainder and so ends at size - 1.

#include <cstdint>

namespace vespar {

struct FileDivision {
  int64_t count = 1;
  int64_t partSize = 0;
  int64_t remainder = 0;

  int64_t StartOf(int64_t k) const { return k * partSize; }
  // Last byte of part k (inclusive); -1 for the one part of an empty file.
  int64_t EndOf(int64_t k) const {
    return (k + 1) * partSize - 1 + (k == count - 1 ? remainder : 0);
  }
};

// A file above maxPartSize is divided when partsAtOnce + extraParts is not 1:
// into size / maxPartSize parts of maxPartSize when that is at least
// partsAtOnce + extraParts, else into partsAtOnce + extraParts equal parts.
// Any other file is one part.
FileDivision DivideFile(int64_t size, int partsAtOnce, int extraParts,
                        int64_t maxPartSize);

}  // namespace vespar
