// URL handling on hostile text: the configuration URL, the content list, the
// contents script and listing links all reach these functions. Each input is
// read both as UTF-8 and as the wire code page, and as raw bytes where a
// function takes bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "tests/fuzz/fuzz_check.h"

namespace vespar {
namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool KeptByEncode(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("./-_:()").find(c) != std::string_view::npos;
}

void CheckText(std::u16string_view url) {
  std::u16string host = GetUrlHost(url);
  FUZZ_CHECK(host.find(u'/') == std::u16string::npos);
  std::u16string lower = GetUrlHostLower(url);
  FUZZ_CHECK(lower.find(u'/') == std::u16string::npos);
  for (char16_t c : lower) FUZZ_CHECK(!(c >= u'A' && c <= u'Z'));

  GetUrlPort(host);
  GetUrlPort(url);
  std::u16string name = HostNameOfToken(host);
  FUZZ_CHECK(name.find(u':') == std::u16string::npos);
  FUZZ_CHECK(host.compare(0, name.size(), name) == 0);

  UrlParts parts = SplitUrl(url);
  FUZZ_CHECK(!parts.path.empty() && parts.path[0] == '/');
  FUZZ_CHECK(parts.host.find('/') == std::string::npos);
}

void CheckBytes(std::string_view bytes) {
  std::string encoded = UrlEncode(bytes);
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%') {
      FUZZ_CHECK(i + 2 < encoded.size() && IsHex(encoded[i + 1]) && IsHex(encoded[i + 2]));
      i += 2;
    } else {
      FUZZ_CHECK(KeptByEncode(encoded[i]));
    }
  }
  FUZZ_CHECK(UrlDecode(encoded) == bytes);
  FUZZ_CHECK(UrlDecode(bytes).size() <= bytes.size());

  // The wire form of a name never exceeds its 7000-byte buffer, and a cut
  // one is a prefix of the whole that ends on a character boundary.
  std::string ansi = Utf8ToAnsi(bytes);
  FUZZ_CHECK(ansi.size() <= 6999);
  std::string whole = bytes.empty() ? std::string() : ToWire(FromUtf8(bytes));
  if (whole.size() <= 6999) {
    FUZZ_CHECK(ansi == whole);
  } else {
    FUZZ_CHECK(ansi.size() >= 6998);
    FUZZ_CHECK(whole.compare(0, ansi.size(), ansi) == 0);
    std::u16string cut = FromWire(ansi);
    FUZZ_CHECK(FromWire(whole).compare(0, cut.size(), cut) == 0);
  }
}

}  // namespace
}  // namespace vespar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = vespar::FuzzBytes(data, size);
  vespar::CheckText(vespar::FromUtf8(bytes));
  vespar::CheckText(vespar::FromWire(bytes));
  vespar::CheckBytes(bytes);
  return 0;
}
