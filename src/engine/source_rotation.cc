#include "src/engine/source_rotation.h"

#include <arpa/inet.h>

#include <atomic>

#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "src/platform/resolver.h"
#include "src/platform/text.h"

namespace vespar {
namespace {

// Only the manager thread rotates; atomic so tests and readers never race.
std::atomic<int32_t> g_rotation{0};

bool HasLetter(std::u16string_view text) {
  for (char16_t c : text) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) return true;
  }
  return false;
}

std::u16string DottedAddress(uint32_t address_net) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a;
  a.s_addr = address_net;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return AsciiToU16(text);
}

}  // namespace

int ListAddresses(std::u16string_view host, std::vector<std::u16string>* list) {
  if (!HasLetter(host)) {
    list->push_back(std::u16string(host));
    return 1;
  }
  std::vector<uint32_t> addresses;
  switch (CurrentResolver().LookupA(ToWire(host), &addresses)) {
    case LookupOutcome::kFailed:
      return 0;
    case LookupOutcome::kNone:
      return -1;
    case LookupOutcome::kAddresses:
      break;
  }
  if (addresses.empty()) return -1;
  for (uint32_t a : addresses) list->push_back(DottedAddress(a));
  return 1;
}

std::u16string ResolveSource(std::u16string_view url) {
  std::u16string result(url);
  std::u16string host = GetUrlHostLower(url);
  if (host.empty()) return result;
  std::vector<std::u16string> list;
  if (ListAddresses(host, &list) != 1 || list.empty()) return result;
  int32_t c = g_rotation.fetch_add(1);
  const std::u16string& picked =
      list[static_cast<uint32_t>(c) % static_cast<uint32_t>(list.size())];
  // The host as written in the URL; a host not written in lower case is not
  // found and the URL stays as it is.
  size_t scheme = result.find(u"://");
  size_t at = result.find(host, scheme == std::u16string::npos ? 0 : scheme + 3);
  if (at != std::u16string::npos) result.replace(at, host.size(), picked);
  return result;
}

int32_t RotationCounter() { return g_rotation.load(); }

void SetRotationCounterForTesting(int32_t value) { g_rotation = value; }

}  // namespace vespar
