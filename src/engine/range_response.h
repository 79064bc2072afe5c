#pragma once

// The head of a range GET's response, read passively: the worker feeds the
// bytes up to the end of the head, and the check says whether the body that
// follows is exactly the requested bytes of this file.

#include <cstdint>
#include <string_view>

namespace vespar {

struct RangeResponseHead {
  bool statusLine = false;  // "HTTP/x.y NNN" was read
  int status = 0;
  bool hasContentRange = false;  // "bytes first-last/total" with numbers
  int64_t rangeFirst = -1;
  int64_t rangeLast = -1;
  int64_t rangeTotal = -1;  // -1 for "*"
  bool hasContentLength = false;
  int64_t contentLength = -1;
  bool conflicting = false;  // a field repeated with another value
};

// Parses a complete head (status line and fields, up to the empty line).
// Field names are matched without regard to case; malformed fields are
// ignored, malformed numbers count as absent.
RangeResponseHead ParseRangeResponseHead(std::string_view head);

// 0 when the response carries exactly bytes first..last of a file of
// fileSize bytes: a 206 whose Content-Range names that range and that size
// (and whose Content-Length, if any, matches), or a 200 when the request asked
// for the whole file from byte 0 and its Content-Length equals the size.
// Otherwise the status for a status the range cannot come with (404, 416,
// 500, ...), or kErrorRangeRefused (25) for a head that is no usable answer.
int CheckRangeResponse(const RangeResponseHead& head, int64_t first, int64_t last,
                       int64_t fileSize);

}  // namespace vespar
