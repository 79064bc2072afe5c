#include "tests/support/http_request.h"

#include <gtest/gtest.h>

namespace vespar::testing {
namespace {

TEST(DecodeTargetPathTest, AbsoluteAndOriginFormsGiveRawBytes) {
  static const struct {
    const char* target;
    const char* path;
  } kCases[] = {
      {"/client/", "/client/"},
      {"http://127.0.0.1:8080/client/a.dat", "/client/a.dat"},
      {"HTTP://127.0.0.1:8080/a", "/a"},
      // The engine puts "//" between host and folder of crawled entries.
      {"http://127.0.0.1:8080//client/a.dat", "/client/a.dat"},
      {"http://127.0.0.1:8080", "/"},
      // CP949 bytes of a Korean name, percent-encoded upper and lower case.
      {"http://h:1/%C7%D1%B1%DB.dat", "/\xC7\xD1\xB1\xDB.dat"},
      {"/%c7%d1", "/\xC7\xD1"},
      {"/read%20me.txt", "/read me.txt"},
      {"/a+b", "/a+b"},  // "+" is not a blank in a path
      {"/100%", "/100%"},
      {"/%zz%4", "/%zz%4"},
      {"/vespar.ini?Mon%20Jan%20%201%2000:00:00%202024%0A", "/vespar.ini"},
      {"/a#frag", "/a"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(DecodeTargetPath(c.target), c.path);
  }
}

TEST(ResolveRangeTest, WellFormedRangesOnlyAndClampedToTheEnd) {
  static const struct {
    const char* value;
    int64_t size;
    RangeResult result;
    int64_t first;
    int64_t last;
  } kCases[] = {
      {"bytes=0-99", 1000, RangeResult::kSatisfiable, 0, 99},
      {"bytes=990-5000", 1000, RangeResult::kSatisfiable, 990, 999},
      {"bytes=500-", 1000, RangeResult::kSatisfiable, 500, 999},
      {"bytes=-10", 1000, RangeResult::kSatisfiable, 990, 999},
      {"bytes=-5000", 1000, RangeResult::kSatisfiable, 0, 999},
      {"BYTES=1-1", 10, RangeResult::kSatisfiable, 1, 1},
      {"bytes=1000-1001", 1000, RangeResult::kUnsatisfiable, 0, 0},
      {"bytes=0-0", 0, RangeResult::kUnsatisfiable, 0, 0},
      // The request of an empty file's part: ignored, the whole (empty) body.
      {"bytes=0--1", 0, RangeResult::kNone, 0, 0},
      {"bytes=5-4", 10, RangeResult::kNone, 0, 0},
      {"bytes=a-b", 10, RangeResult::kNone, 0, 0},
      {"items=0-1", 10, RangeResult::kNone, 0, 0},
      {"bytes=99999999999999999999-", 10, RangeResult::kNone, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    ByteRange r;
    RangeResult result = ResolveRange(c.value, c.size, &r);
    EXPECT_EQ(result, c.result);
    if (result == RangeResult::kSatisfiable) {
      EXPECT_EQ(r.first, c.first);
      EXPECT_EQ(r.last, c.last);
    }
  }
}

TEST(ParseRequestHeadTest, RequestLineAndFields) {
  RequestHead head;
  ASSERT_TRUE(ParseRequestHead(
      "GET http://h:1/a HTTP/1.0\r\nUser-Agent:;x\r\nRange: bytes=0-9\r\n\r\n", &head));
  EXPECT_EQ(head.method, "GET");
  EXPECT_EQ(head.target, "http://h:1/a");
  EXPECT_EQ(head.version, "HTTP/1.0");
  EXPECT_EQ(head.Field("range").value_or("?"), "bytes=0-9");
  EXPECT_EQ(head.Field("user-agent").value_or("?"), ";x");
  EXPECT_FALSE(head.Field("Host").has_value());

  EXPECT_FALSE(ParseRequestHead("GARBAGE\r\n\r\n", &head));
  EXPECT_FALSE(ParseRequestHead("\r\n\r\n", &head));
}

}  // namespace
}  // namespace vespar::testing
