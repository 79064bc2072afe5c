// A folder listing's body: the links it holds and the file names they give,
// exactly as the crawl takes them before any file is named after them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/bootstrap/listing_scanner.h"
#include "src/platform/safe_names.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vespar;
  std::string_view body = FuzzBytes(data, size);
  std::vector<std::string> links = ScanListingLinks(body);
  // Every link needs its own opener of 9 bytes in the body.
  FUZZ_CHECK(links.size() <= body.size() / 9);
  for (const std::string& link : links) {
    FUZZ_CHECK(link.find("\">") == std::string::npos);
    FUZZ_CHECK(body.find("<A HREF=\"" + link + "\">") != std::string_view::npos);
    std::optional<std::u16string> name = LinkFileName(link);
    if (!name) {
      FUZZ_CHECK(link.find('/') == std::string::npos || link.back() == '/');
      continue;
    }
    FUZZ_CHECK(link.find('/') != std::string::npos && link.back() != '/');
    if (IsSafeFileName(*name)) {
      FUZZ_CHECK(*name != u"." && *name != u".." && !name->empty());
      FUZZ_CHECK(name->find_first_of(u"/\\") == std::u16string::npos);
    }
    for (char16_t c : PrintableName(*name)) FUZZ_CHECK(c >= 0x20 && c != 0x7F);
  }
  return 0;
}
