#pragma once

// A plain blocking HTTP exchange over a POSIX socket, for tests that check
// what a server sends byte for byte.

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar::testing {

// A connected TCP socket to address:port, or -1 with errno set.
int ConnectTo(const std::string& address, uint16_t port);

struct RawResponse {
  std::string bytes;   // everything received
  int blocks = 0;      // receive calls that returned data
  bool closed = false; // the peer closed in order (end of stream)
  int error = 0;       // errno of a failed connect or receive (ECONNRESET ...)
  bool timed_out = false;

  // The head up to and including "\r\n\r\n" (empty when there is none) and
  // what follows it.
  std::string Head() const;
  std::string Body() const;
  // The value of a head field (first match, ASCII case-insensitive), or
  // "<none>" when the head has no such field.
  std::string Field(std::string_view name) const;
};

// Connects, sends `request` and reads until the peer closes, a receive
// fails, or nothing arrives for `timeout_ms`.
RawResponse Exchange(const std::string& address, uint16_t port, std::string_view request,
                     int timeout_ms = 20000);

// Reads from a connected socket as Exchange does.
RawResponse ReadAll(int fd, int timeout_ms = 20000);

}  // namespace vespar::testing
