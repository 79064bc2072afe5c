#pragma once

// The HEAD exchange of an item probe and the verdict on its answer. The
// verdict tells a missing length from an explicit "Content-Length: 0": only
// the latter is an empty file.

#include <cstdint>
#include <string_view>

#include "src/engine/range_response.h"

namespace vespar {

struct Connection;

struct ProbeExchange {
  bool headRead = false;  // a complete head arrived
  RangeResponseHead head;
  int error = 0;  // error number of a failed send or receive (10060 on time-out)
};

// Sends "HEAD <url> HTTP/1.0\r\n\r\n" (absolute URL, wire code page,
// percent-encoded) on a connected socket and reads the head into 4096 bytes,
// waiting at most timeoutMs for each receive.
ProbeExchange ExchangeProbeHead(Connection& c, std::u16string_view url, int timeoutMs);

// 0 with *size for a 200 with a usable Content-Length (0 included);
// kErrorProbeNoLength (21) when no status line was read or a 200 has no
// usable length; otherwise the status (404, ...).
int ProbeVerdict(const ProbeExchange& exchange, int64_t* size);

}  // namespace vespar
