#pragma once

// The HEAD probe and the passive parsing of response heads.

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar {

struct Connection;

// Position of the first "\r\n\r\n" in `bytes` that starts after the first
// byte (a mark at position 0, a response beginning with empty lines, does not
// end a head; a later mark does); npos when the head is not complete yet.
size_t FindHeadEnd(std::string_view bytes);

// What a HEAD probe reads from a complete head.
struct ProbeHead {
  int16_t status = 0;          // 0 when no status line could be read
  // 0 when missing or unusable: no digits, negative, or beyond 63 bits.
  int64_t contentLength = 0;
  // A content-length field followed by ":" and a line end was found (its
  // value may still be unusable). Never set for a head holding a NUL byte.
  bool hasContentLength = false;
  bool connectionClose = false;   // a connection field whose value is "close"
};

// Parses a complete head (status line, content-length, connection) with the
// probe's rules: the head is lower-cased, fields are found by plain substring
// search (the first occurrence wins), the status is atoi of the text between
// the first two blanks, which must both lie in the first line (a status line
// without a reason phrase therefore reads as 0). The three are read
// independently of each other.
ProbeHead ParseProbeHead(std::string_view head);

// Sends "HEAD <url> HTTP/1.0\r\n\r\n" (absolute URL, wire code page,
// percent-encoded) on a connected socket and reads the head into a 4096-byte
// buffer. Sets c.status; closes the socket on "connection: close". Returns
// the content length, or 0 when there is none or the exchange failed (closed
// early, buffer full without the end of the head, no whole head within
// receive_timeout_ms; -1: no limit). Only a 200 with a length field is
// success; the socket is closed on "connection: close" only then. A failed
// exchange leaves c.status 0; c.lastError holds the socket's error (10060
// when the time ran out), 0 for an early close or an over-long head.
int64_t HeadProbe(Connection& c, std::u16string_view url,
                  int receive_timeout_ms = 30000);

}  // namespace vespar
