// The head of a range GET's response, and the check that decides whether the
// body may be written at the part's offset.

#include <cstdint>
#include <string_view>

#include "src/engine/messages.h"
#include "src/engine/range_response.h"
#include "tests/fuzz/fuzz_check.h"

namespace vespar {
namespace {

// The check's answer for a part of a real file (0 <= first <= last < size).
void Check(const RangeResponseHead& head, int64_t first, int64_t last, int64_t size) {
  int result = CheckRangeResponse(head, first, last, size);
  if (result == 0) {
    FUZZ_CHECK(head.statusLine && !head.conflicting);
    FUZZ_CHECK(head.status == 200 || head.status == 206);
    if (head.status == 206) {
      FUZZ_CHECK(head.rangeFirst == first && head.rangeLast == last &&
                 head.rangeTotal == size);
      if (head.hasContentLength) FUZZ_CHECK(head.contentLength == last - first + 1);
    } else {
      FUZZ_CHECK(first == 0 && last == size - 1 && head.contentLength == size);
    }
  } else {
    FUZZ_CHECK(result == kErrorRangeRefused || (result >= 100 && result <= 599));
    FUZZ_CHECK(result != 200 && result != 206);
  }
}

}  // namespace
}  // namespace vespar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vespar;
  RangeResponseHead head = ParseRangeResponseHead(FuzzBytes(data, size));
  if (head.hasContentRange) {
    FUZZ_CHECK(head.rangeFirst >= 0 && head.rangeLast >= 0 && head.rangeTotal >= -1);
    if (head.rangeFirst <= head.rangeLast && head.rangeLast < head.rangeTotal)
      Check(head, head.rangeFirst, head.rangeLast, head.rangeTotal);
  }
  if (head.hasContentLength) {
    FUZZ_CHECK(head.contentLength >= 0);
    if (head.contentLength > 0) Check(head, 0, head.contentLength - 1, head.contentLength);
  }
  Check(head, 0, 0, 1);
  Check(head, 100, 199, 1000);
  return 0;
}
