#include "src/bootstrap/listing_scanner.h"

#include "src/net/url.h"
#include "src/platform/code_page.h"

namespace vespar {
namespace {

constexpr std::string_view kOpener = "<A HREF=\"";
constexpr std::string_view kCloser = "\">";

}  // namespace

std::vector<std::string> ScanListingLinks(std::string_view body) {
  std::vector<std::string> links;
  size_t from = 0;
  while (true) {
    size_t open = body.find(kOpener, from);
    if (open == std::string_view::npos) break;
    size_t start = open + kOpener.size();
    size_t close = body.find(kCloser, start);
    if (close == std::string_view::npos) break;
    links.emplace_back(body.substr(start, close - start));
    from = close;
  }
  return links;
}

std::optional<std::u16string> LinkFileName(std::string_view link) {
  size_t slash = link.rfind('/');
  if (slash == std::string_view::npos || slash + 1 == link.size()) return std::nullopt;
  // Names arrive as percent-encoded UTF-8; the program's own name text goes
  // through the wire code page, so a character it lacks reads as "?".
  return FromWire(Utf8ToAnsi(UrlDecode(link.substr(slash + 1))));
}

}  // namespace vespar
