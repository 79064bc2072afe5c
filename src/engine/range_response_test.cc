#include "src/engine/range_response.h"

#include <string>

#include <gtest/gtest.h>

#include "src/engine/messages.h"

namespace vespar {
namespace {

TEST(RangeResponseTest, ParsesStatusAndFields) {
  RangeResponseHead h = ParseRangeResponseHead(
      "HTTP/1.1 206 Partial Content\r\nServer: x\r\ncontent-RANGE: bytes 100-199/1000\r\n"
      "Content-Length:  100 \r\n\r\n");
  EXPECT_TRUE(h.statusLine);
  EXPECT_EQ(h.status, 206);
  EXPECT_TRUE(h.hasContentRange);
  EXPECT_EQ(h.rangeFirst, 100);
  EXPECT_EQ(h.rangeLast, 199);
  EXPECT_EQ(h.rangeTotal, 1000);
  EXPECT_TRUE(h.hasContentLength);
  EXPECT_EQ(h.contentLength, 100);
  EXPECT_FALSE(h.conflicting);
}

TEST(RangeResponseTest, Verdicts) {
  // Requested: bytes 100-199 of a 1000-byte file, unless the case says so.
  static const struct {
    const char* name;
    std::string head;
    int64_t first, last, size;
    int expected;
  } kCases[] = {
      {"exact 206", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 100-199/1000\r\n\r\n",
       100, 199, 1000, 0},
      {"206 with matching length",
       "HTTP/1.0 206 Partial\r\nContent-Range: bytes 100-199/1000\r\nContent-Length: 100\r\n\r\n",
       100, 199, 1000, 0},
      {"206 without reason phrase", "HTTP/1.1 206\r\nContent-Range: bytes 100-199/1000\r\n\r\n",
       100, 199, 1000, 0},
      {"206 other start", "HTTP/1.1 206 P\r\nContent-Range: bytes 0-199/1000\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 other end", "HTTP/1.1 206 P\r\nContent-Range: bytes 100-999/1000\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 other file size", "HTTP/1.1 206 P\r\nContent-Range: bytes 100-199/2000\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 unknown size", "HTTP/1.1 206 P\r\nContent-Range: bytes 100-199/*\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 without Content-Range", "HTTP/1.1 206 P\r\nContent-Length: 100\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 wrong length",
       "HTTP/1.1 206 P\r\nContent-Range: bytes 100-199/1000\r\nContent-Length: 900\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 two different ranges",
       "HTTP/1.1 206 P\r\nContent-Range: bytes 100-199/1000\r\nContent-Range: bytes 0-99/1000\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"206 garbage range", "HTTP/1.1 206 P\r\nContent-Range: bytes 1x0-199/1000\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      // A server that ignores Range answers 200 with the whole file.
      {"200 for a partial range", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n",
       100, 199, 1000, kErrorRangeRefused},
      {"200 for the whole file", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n",
       0, 999, 1000, 0},
      {"200 whole file, other length", "HTTP/1.1 200 OK\r\nContent-Length: 999\r\n\r\n",
       0, 999, 1000, kErrorRangeRefused},
      {"200 whole file, no length", "HTTP/1.1 200 OK\r\n\r\n", 0, 999, 1000,
       kErrorRangeRefused},
      {"200 two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nContent-Length: 5\r\n\r\n",
       0, 999, 1000, kErrorRangeRefused},
      // Other statuses are reported as they are.
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 20\r\n\r\n", 100, 199, 1000, 404},
      {"416", "HTTP/1.1 416 Range Not Satisfiable\r\n\r\n", 100, 199, 1000, 416},
      {"500", "HTTP/1.0 500 Oops\r\n\r\n", 100, 199, 1000, 500},
      {"302", "HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\n", 100, 199, 1000, 302},
      // No usable status line.
      {"garbage", "garbage\r\n\r\n", 100, 199, 1000, kErrorRangeRefused},
      {"status of two digits", "HTTP/1.1 20 OK\r\n\r\n", 100, 199, 1000, kErrorRangeRefused},
      {"status glued to text", "HTTP/1.1 206x\r\n\r\n", 100, 199, 1000, kErrorRangeRefused},
      {"empty", "", 100, 199, 1000, kErrorRangeRefused},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckRangeResponse(ParseRangeResponseHead(c.head), c.first, c.last, c.size),
              c.expected);
  }
}

}  // namespace
}  // namespace vespar
