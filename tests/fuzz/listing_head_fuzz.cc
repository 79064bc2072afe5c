// The response head of a folder listing, as the crawl reads it.

#include <cstdint>
#include <string_view>

#include "src/bootstrap/listing_head.h"
#include "src/net/head_probe.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vespar;
  std::string_view bytes = FuzzBytes(data, size);
  // The crawl passes the text up to and including the end of the head; the
  // parser must also stand a head that was cut short.
  size_t end = FindHeadEnd(bytes);
  std::string_view head = end == std::string_view::npos ? bytes : bytes.substr(0, end + 4);
  for (std::string_view text : {head, bytes}) {
    ListingHead parsed = ParseListingHead(text);
    int code = ListingHeadResultCode(parsed.outcome);
    if (parsed.outcome == ListingHeadOutcome::kOk) {
      FUZZ_CHECK(code == 0);
      FUZZ_CHECK(parsed.contentLength >= 0);
    } else {
      FUZZ_CHECK(code >= -9 && code <= -5);
    }
  }
  return 0;
}
