// The HEAD probe's head: whatever a server sends into the 4096-byte buffer.

#include <cstdint>
#include <string_view>

#include "src/net/head_probe.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vespar::ProbeHead;
  std::string_view bytes = vespar::FuzzBytes(data, size);

  size_t end = vespar::FindHeadEnd(bytes);
  std::string_view head = bytes;
  if (end != std::string_view::npos) {
    FUZZ_CHECK(end >= 1 && end + 4 <= bytes.size());
    FUZZ_CHECK(bytes.substr(end, 4) == "\r\n\r\n");
    FUZZ_CHECK(bytes.substr(0, end + 3).find("\r\n\r\n", 1) == std::string_view::npos);
    head = bytes.substr(0, end + 4);
  }

  ProbeHead parsed = vespar::ParseProbeHead(head);
  FUZZ_CHECK(parsed.contentLength >= 0);
  if (!parsed.hasContentLength) FUZZ_CHECK(parsed.contentLength == 0);
  return 0;
}
