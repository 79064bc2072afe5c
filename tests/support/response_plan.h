#pragma once

// Passive planning of one answer of the test server: which bytes to send
// (head, then slices of the body), where to cut them off, how to end and how
// fast to send. The connection code only carries the plan out.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/fault.h"

namespace vespar::testing {

// What a request path maps to.
struct Resource {
  std::shared_ptr<const std::string> body;  // null: nothing there (404)
  std::string content_type;
};

// A slice of shared bytes, so that a large file is never copied per request.
struct Piece {
  std::shared_ptr<const std::string> data;
  size_t offset = 0;
  size_t length = 0;
};

struct ResponsePlan {
  int status = 0;
  bool stall_before_head = false;
  std::vector<Piece> pieces;  // the head first, then the body
  size_t head_size = 0;
  int64_t send_limit = -1;    // bytes of the whole answer to send; -1: all
  Ending ending = Ending::kClose;
  size_t drip_bytes = 0;
  int drip_interval_ms = 0;
  int64_t rate_bytes_per_second = 0;

  // Every byte that would be sent (up to send_limit), for tests.
  std::string Flatten() const;
};

struct ResponseOptions {
  bool connection_close = true;       // "Connection: close" in every head
  int64_t rate_bytes_per_second = 0;  // the server's per-connection limit
};

// Plans the answer to `method` with the Range header value `range` (nullopt
// when the request had none) for `resource`, with `fault` applied.
ResponsePlan PlanResponse(std::string_view method, const std::optional<std::string>& range,
                          const Resource& resource, const Fault& fault,
                          const ResponseOptions& options);

// "OK", "Not Found", ...; "Status" for codes it does not know.
const char* ReasonPhrase(int status);

}  // namespace vespar::testing
