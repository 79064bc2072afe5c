#pragma once

// What the test server does wrong on purpose. A default Fault is a correct
// server. Faults are set per path or for every path (TestServer::SetFault).

#include <cstdint>
#include <optional>
#include <string>

namespace vespar::testing {

enum class FaultMethod { kAny, kGet, kHead };

enum class LengthFault {
  kNormal,   // the right Content-Length
  kMissing,  // no Content-Length field at all
  kWrong,    // Content-Length: wrong_length
};

// How a response ends once everything planned (or `cut_after` body bytes)
// has been sent.
enum class Ending {
  kClose,  // orderly close (FIN)
  kReset,  // SO_LINGER 0, then close: the peer sees a reset (and may lose
           // bytes it has not read yet)
  kStall,  // keep the connection open, send nothing more, until the peer
           // closes or the server stops
};

struct Fault {
  // Which requests the fault applies to; other requests are served normally.
  FaultMethod method = FaultMethod::kAny;
  // Apply to the first `times` matching requests only; -1: to every one.
  int times = -1;

  // Answer this status with a short HTML page in place of the file (0: off).
  int status = 0;
  LengthFault length = LengthFault::kNormal;
  int64_t wrong_length = 0;
  // Answer 200 with the whole body whatever the Range header asks.
  bool ignore_range = false;
  // Sent as the Content-Range value in place of the right one (when set).
  std::optional<std::string> content_range;
  // Bytes sent after the requested range: the file's next bytes, then "X"
  // past its end. The Content-Length still names the range only.
  int64_t extra_bytes = 0;
  // "Transfer-Encoding: chunked" and no Content-Length.
  bool chunked = false;
  // Header lines added to the head, each ending in "\r\n".
  std::string extra_head_lines;
  // Sent verbatim as the whole response (counted as body for cut_after);
  // for hostile heads.
  std::optional<std::string> raw_response;

  // Read the request, then answer nothing until the peer closes or the
  // server stops.
  bool stall_before_head = false;
  // End the response after this many body bytes (-1: after all of it), in
  // the manner of `ending`. cut_after 0 with Ending::kStall answers the head
  // and then stalls.
  int64_t cut_after = -1;
  Ending ending = Ending::kClose;

  // Slow drip: the response (head included) in pieces of `drip_bytes`, one
  // every `drip_interval_ms`.
  size_t drip_bytes = 0;
  int drip_interval_ms = 0;
  // Bytes per second for this response (0: the server's own limit).
  int64_t rate_bytes_per_second = 0;
};

}  // namespace vespar::testing
