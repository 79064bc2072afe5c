#pragma once

// The HEAD probe and the passive parsing of response heads.

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar {

struct Connection;

// Position of the first "\r\n\r\n" in `bytes` when it lies after the first
// byte (a response that begins with an empty line is not a head); npos when
// the head is not complete yet.
size_t FindHeadEnd(std::string_view bytes);

// What a HEAD probe reads from a complete head.
struct ProbeHead {
  int16_t status = 0;          // 0 when no status line could be read
  int64_t contentLength = 0;   // 0 when missing or unusable
  bool hasContentLength = false;  // a content-length field with a value was found
  bool connectionClose = false;   // a connection field whose value is "close"
};

// Parses a complete head (status line, content-length, connection) with the
// probe's rules: the head is lower-cased, fields are found by plain substring
// search, the status is atoi of the text between the first two blanks of the
// first line.
ProbeHead ParseProbeHead(std::string_view head);

// Sends "HEAD <url> HTTP/1.0\r\n\r\n" (absolute URL, wire code page,
// percent-encoded) on a connected socket and reads the head into a 4096-byte
// buffer. Sets c.status; closes the socket on "connection: close". Returns
// the content length, or 0 when there is none or the exchange failed (closed
// early, buffer full without the end of the head, no answer within
// receive_timeout_ms).
int64_t HeadProbe(Connection& c, std::u16string_view url,
                  int receive_timeout_ms = 30000);

}  // namespace vespar
