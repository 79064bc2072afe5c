#include "src/engine/item_probe.h"

#include <string>

#include "src/engine/messages.h"
#include "src/net/connection.h"
#include "src/net/head_probe.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"

namespace vespar {

namespace {
constexpr size_t kProbeBufferSize = 4096;
constexpr int kTimedOutError = 10060;
}  // namespace

ProbeExchange ExchangeProbeHead(Connection& c, std::u16string_view url, int timeoutMs) {
  ProbeExchange x;
  std::string request = "HEAD " + UrlEncode(ToWire(url)) + " HTTP/1.0\r\n\r\n";
  if (int error = SendAll(c, request)) {
    x.error = error;
    return x;
  }
  std::string buffer(kProbeBufferSize, '\0');
  size_t have = 0;
  while (have < buffer.size()) {
    int n = ReceiveSome(c, buffer.data() + have, buffer.size() - have, timeoutMs);
    if (n == kReceiveTimedOut) {
      x.error = kTimedOutError;
      return x;
    }
    if (n < 0) {
      x.error = c.lastError;
      return x;
    }
    if (n == 0) return x;  // closed before the head was complete
    have += static_cast<size_t>(n);
    size_t end = FindHeadEnd(std::string_view(buffer.data(), have));
    if (end != std::string_view::npos) {
      x.headRead = true;
      x.head = ParseRangeResponseHead(std::string_view(buffer.data(), end + 4));
      return x;
    }
  }
  return x;  // 4096 bytes without the end of the head
}

int ProbeVerdict(const ProbeExchange& exchange, int64_t* size) {
  if (!exchange.headRead || !exchange.head.statusLine || exchange.head.status < 100 ||
      exchange.head.status > 599)
    return kErrorProbeNoLength;
  if (exchange.head.status != 200) return exchange.head.status;
  if (!exchange.head.hasContentLength || exchange.head.conflicting)
    return kErrorProbeNoLength;
  *size = exchange.head.contentLength;
  return 0;
}

}  // namespace vespar
