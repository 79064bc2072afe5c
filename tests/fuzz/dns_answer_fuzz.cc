// A DNS answer message, as a nameserver (or anyone who can spoof one) sends it.

#include <cstdint>
#include <vector>

#include "src/platform/resolver.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65535) return 0;  // res_nquery answers fit a 16-bit length
  std::vector<uint32_t> addresses = {0x7F000001u};
  bool ok = vespar::ParseDnsAnswerA(data, static_cast<int>(size), &addresses);
  if (!ok) {
    FUZZ_CHECK(addresses.size() == 1);  // nothing appended on failure
    return 0;
  }
  FUZZ_CHECK(size >= 12);
  size_t answers = (static_cast<size_t>(data[6]) << 8) | data[7];
  // Each A record takes at least a name byte, the fixed part and 4 bytes.
  FUZZ_CHECK(addresses.size() - 1 <= answers);
  FUZZ_CHECK((addresses.size() - 1) * 15 <= size - 12);
  return 0;
}
