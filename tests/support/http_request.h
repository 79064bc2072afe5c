#pragma once

// Passive parsing of the request heads the test server receives: the request
// line, header fields, the request target and the Range header. No sockets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vespar::testing {

// Length of the head including its blank line ("\r\n\r\n", or "\n\n" from a
// sloppy client), or 0 while the head is not complete yet.
size_t FindRequestHeadEnd(std::string_view bytes);

struct RequestHead {
  std::string method;   // as sent ("GET", "HEAD", ...)
  std::string target;   // the request target as sent, absolute or origin form
  std::string version;  // "HTTP/1.0", "HTTP/1.1"; empty for a bare request line
  std::vector<std::pair<std::string, std::string>> fields;  // name, trimmed value

  // Value of the first field of that name (ASCII case-insensitive), or nullopt.
  std::optional<std::string> Field(std::string_view name) const;
};

// Parses a complete head. False when the request line is not
// "METHOD SP TARGET [SP VERSION]".
bool ParseRequestHead(std::string_view head, RequestHead* out);

// The decoded path of a request target as raw bytes: a scheme and authority
// ("http://host:port") are dropped, the query and fragment are cut off, runs
// of "/" are merged into one (the engine asks for "http://host//folder/name")
// and "%XX" is decoded; "+" stays "+" and a "%" without two hex digits stays
// as it is. Always begins with "/".
std::string DecodeTargetPath(std::string_view target);

// A byte range resolved against a body of `size` bytes.
struct ByteRange {
  int64_t first = 0;
  int64_t last = 0;  // inclusive
};

enum class RangeResult {
  kNone,           // no usable Range header: answer the whole body (200)
  kSatisfiable,    // answer *range (206)
  kUnsatisfiable,  // the range starts at or past the end (416)
};

// Interprets a Range header value: "bytes=a-b", "bytes=a-" and "bytes=-n".
// A last position past the end is clamped to the end. Anything that is not a
// single well-formed range (including "bytes=0--1" of an empty file) is
// ignored as servers do, giving kNone.
RangeResult ResolveRange(std::string_view value, int64_t size, ByteRange* range);

}  // namespace vespar::testing
