#include "src/bootstrap/listing_head.h"

#include <gtest/gtest.h>

namespace vespar {
namespace {

TEST(ListingHeadTest, StatusAndLength) {
  using O = ListingHeadOutcome;
  static const struct {
    const char* head;
    ListingHeadOutcome outcome;
    int64_t length;
    int code;
  } kCases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n", O::kOk, 1234, 0},
      {"HTTP/1.0 200 OK\r\nCONTENT-LENGTH:77\r\nServer: x\r\n\r\n", O::kOk, 77, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1 2 3\r\n\r\n", O::kOk, 123, 0},
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", O::kOk, 0, 0},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\n", O::kNotFound, 0, -7},
      {"HTTP/1.1 500 Oops\r\n\r\n", O::kNotFound, 0, -7},
      // No second blank at all: the status reads as empty.
      {"HTTP/1.1 200\r\nContent-Length:5\r\n\r\n", O::kNotFound, 0, -7},
      // The second blank is found in a later line.
      {"HTTP/1.1 200\r\nContent-Length: 5\r\n\r\n", O::kStatusLineBroken, 0, -6},
      {"HTTP/2 200 OK\r\nContent-Length: 5\r\n\r\n", O::kNoStatusLine, 0, -5},
      {"HTTP/1.1\r\n\r\n", O::kNoStatusLine, 0, -5},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", O::kNoLength, 0, -8},
      {"HTTP/1.1 200 OK\r\nContent-Length\r\nX: y\r\n\r\n", O::kLengthBroken, 0, -9},
      {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", O::kLengthBroken, 0, -9},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.head);
    ListingHead head = ParseListingHead(c.head);
    EXPECT_EQ(head.outcome, c.outcome);
    if (c.outcome == O::kOk) {
      EXPECT_EQ(head.contentLength, c.length);
    }
    EXPECT_EQ(ListingHeadResultCode(head.outcome), c.code);
  }
}

}  // namespace
}  // namespace vespar
