#include "src/engine/divide_file.h"

namespace vespar {

FileDivision DivideFile(int64_t size, int partsAtOnce, int extraParts,
                        int64_t maxPartSize) {
  FileDivision d;
  const int64_t n = static_cast<int64_t>(partsAtOnce) + extraParts;
  if (maxPartSize > 0 && size > maxPartSize && n > 1) {
    const int64_t q = size / maxPartSize;
    if (q >= n) {
      d.count = q;
      d.partSize = maxPartSize;
      d.remainder = size - q * maxPartSize;
    } else {
      d.count = n;
      d.partSize = size / n;
      d.remainder = size - n * d.partSize;
    }
    return d;
  }
  d.count = 1;
  d.partSize = size;
  d.remainder = 0;
  return d;
}

}  // namespace vespar
