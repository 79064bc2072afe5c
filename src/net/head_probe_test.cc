#include "src/net/head_probe.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "src/net/connection.h"
#include "src/net/test_peer.h"

namespace vespar {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;
using net_testing::LoopbackAddress;
using net_testing::ScriptedPeer;

std::string Printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\0') out += "\\0";
    else out.push_back(c);
  }
  return out.size() > 120 ? out.substr(0, 120) + "..." : out;
}

constexpr size_t kNone = std::string_view::npos;

TEST(HeadProbeTest, FindHeadEnd) {
  static const struct {
    std::string_view bytes;
    size_t end;
  } kCases[] = {
      {"", kNone},
      {"HTTP/1.0 200 OK\r\n\r\n", 15},
      {"HTTP/1.0 200 OK\r\n\r", kNone},
      {"HTTP/1.0 200 OK\r\nA: b\r\n", kNone},
      {"a\r\n\r\nbody\r\n\r\n", 1},
      // An empty line at the very start is not the end of a head.
      {"\r\n\r\n", kNone},
      {"\r\n\r\nHTTP/1.0 200 OK\r\n", kNone},
      {"\r\n\r\nHTTP/1.0 200 OK\r\n\r\n", 19},
      {"\n\n", kNone},
      {"HTTP/1.0 200 OK\r\nX: \0\r\n\r\n"sv, 21},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Printable(c.bytes));
    EXPECT_EQ(FindHeadEnd(c.bytes), c.end);
  }
}

TEST(HeadProbeTest, ParseProbeHead) {
  static const struct {
    std::string_view head;
    int16_t status;
    int64_t length;
    bool hasLength;
    bool close;
  } kCases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n", 200, 1048576, true, false},
      {"HTTP/1.1 200 OK\r\nCONTENT-LENGTH:1048576\r\n\r\n", 200, 1048576, true, false},
      {"http/1.0 200 ok\r\ncontent-length:\t 7 \r\n\r\n", 200, 7, true, false},
      {"HTTP/1.0 404 Not Found\r\nContent-Length: 100\r\n\r\n", 404, 100, true, false},
      {"HTTP/1.1 206 Partial Content\r\n\r\n", 206, 0, false, false},
      {"HTTP/1.1 200 OK\r\n\r\n", 200, 0, false, false},
      // No reason phrase: the second blank lies in a later line.
      {"HTTP/1.1 200\r\nContent-Length: 5\r\n\r\n", 0, 5, true, false},
      {"HTTP/1.1 200\r\nContent-Length:5\r\n\r\n", 0, 5, true, false},
      {"HTTP/1.1 200 \r\nContent-Length:5\r\n\r\n", 200, 5, true, false},
      // Status lines without blanks, or without a version.
      {"HTTP/1.1\r\n\r\n", 0, 0, false, false},
      {"HTTP/1.1-200-OK\r\nX:y\r\n\r\n", 0, 0, false, false},
      {"ICY 200 OK\r\nContent-Length: 5\r\n\r\n", 0, 5, true, false},
      {"\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", 0, 5, true, false},
      // Unusable lengths.
      {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", 200, 0, true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", 200, 0, true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", 200, 0, true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\n", 200, 0, true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\n", 200,
       std::numeric_limits<int64_t>::max(), true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", 200, 12, true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length: 1 2\r\n\r\n", 200, 12, true, false},
      {"HTTP/1.1 200 OK\r\nContent-Length\r\nX: 5\r\n\r\n", 200, 0, true, false},
      // A NUL byte: the status line before it counts, no length is taken.
      {"HTTP/1.1 200 OK\r\nX: a\0b\r\nContent-Length: 5\r\n\r\n"sv, 200,
       0, false, false},
      {"HTTP/1.1 2\0" "00 OK\r\nContent-Length: 5\r\n\r\n"sv, 0, 0,
       false, false},
      // The connection field.
      {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 5\r\n\r\n", 200, 5, true,
       true},
      {"HTTP/1.1 200 OK\r\nCONNECTION:CLOSE\r\nContent-Length: 5\r\n\r\n", 200, 5, true,
       true},
      {"HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 5\r\n\r\n", 200, 5,
       true, false},
      {"HTTP/1.1 200 OK\r\nConnection: close, TE\r\n\r\n", 200, 0, false, false},
      // The first occurrence wins, wherever it stands.
      {"HTTP/1.1 200 OK\r\nProxy-Connection: keep-alive\r\nConnection: close\r\n\r\n",
       200, 0, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Printable(c.head));
    ProbeHead head = ParseProbeHead(c.head);
    EXPECT_EQ(head.status, c.status);
    EXPECT_EQ(head.contentLength, c.length);
    EXPECT_EQ(head.hasContentLength, c.hasLength);
    EXPECT_EQ(head.connectionClose, c.close);
  }
}

std::string HeadOfSize(size_t size, bool complete) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 9\r\nX-Fill: ";
  std::string end = complete ? "\r\n\r\n" : "\r\n";
  head.append(size - head.size() - end.size(), 'f');
  return head + end;
}

TEST(HeadProbeTest, ProbesOverARealSocket) {
  using End = ScriptedPeer::End;
  const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n";
  const struct {
    const char* name;
    std::vector<std::string> chunks;
    End end;
    int timeout_ms;
    int64_t result;
    int16_t status;
    bool closed;          // the probe closed the socket
    int lastError = -1;   // -1: not checked
  } kCases[] = {
      {"keep-alive", {kOk}, End::kStall, 30000, 1048576, 200, false, 0},
      {"connection close",
       {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n"},
       End::kClose, 30000, 10, 200, true, 0},
      {"capitals", {"HTTP/1.1 200 OK\r\nCONTENT-LENGTH:1048576\r\nCONNECTION: CLOSE\r\n\r\n"},
       End::kStall, 30000, 1048576, 200, true},
      {"not found", {"HTTP/1.0 404 Not Found\r\nContent-Length: 5\r\n\r\n"}, End::kStall,
       30000, 0, 404, false},
      {"redirect", {"HTTP/1.0 302 Found\r\nLocation: /x\r\nConnection: close\r\n\r\n"},
       End::kClose, 30000, 0, 302, false},
      {"no length", {"HTTP/1.1 200 OK\r\n\r\n"}, End::kStall, 30000, 0, 200, false},
      {"split over receives",
       {"HTTP/1.1 2", "00 OK\r\nContent-", "Length: 77\r\n", "\r", "\n"}, End::kStall,
       30000, 77, 200, false},
      {"bytes after the head", {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc"},
       End::kClose, 30000, 3, 200, false},
      {"starts with an empty line",
       {"\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"}, End::kStall, 30000, 0,
       0, false},
      {"no reason phrase", {"HTTP/1.1 200\r\nContent-Length: 5\r\n\r\n"}, End::kStall,
       30000, 0, 0, false},
      {"status line without blanks", {"HTTP/1.1\r\n\r\n"}, End::kStall, 30000, 0, 0, false},
      {"NUL byte", {"HTTP/1.1 200 OK\r\nX: \0\r\nContent-Length: 5\r\n\r\n"s},
       End::kStall, 30000, 0, 200, false},
      {"negative length", {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n"}, End::kStall,
       30000, 0, 200, false},
      {"20-digit length",
       {"HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\n"}, End::kStall,
       30000, 0, 200, false},
      {"non-numeric length", {"HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\n"},
       End::kStall, 30000, 0, 200, false},
      {"head fills the buffer exactly", {HeadOfSize(4095, true)}, End::kStall, 30000, 9,
       200, false},
      // The buffer is full before the end: give up at once, not at the time-out.
      {"head one byte too long", {HeadOfSize(4096, true)}, End::kStall, 20000, 0, 0,
       false, 0},
      {"no blank line, long", {HeadOfSize(9000, false)}, End::kStall, 20000, 0, 0, false,
       0},
      {"no blank line, then close", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"},
       End::kClose, 30000, 0, 0, false, 0},
      {"no blank line, then stall", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"},
       End::kStall, 200, 0, 0, false, 10060},
      {"silence", {}, End::kStall, 200, 0, 0, false, 10060},
      {"reset", {"HTTP/1.1 200 OK\r\n"}, End::kReset, 30000, 0, 0, false, 10054},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer({.chunks = c.chunks, .end = c.end});
    Connection conn;
    ASSERT_EQ(OpenSocket(conn), 0);
    ASSERT_EQ(ConnectTimeout(conn, peer.port(), LoopbackAddress(), 5000), 0);
    conn.status = 99;
    EXPECT_EQ(HeadProbe(conn, u"http://127.0.0.1:8080/file.bin", c.timeout_ms), c.result);
    EXPECT_EQ(conn.status, c.status);
    EXPECT_EQ(conn.socket == -1, c.closed);
    if (c.lastError >= 0) {
      EXPECT_EQ(conn.lastError, c.lastError);
    }
    EXPECT_EQ(peer.Request(), "HEAD http://127.0.0.1:8080/file.bin HTTP/1.0\r\n\r\n");
  }
}

TEST(HeadProbeTest, RequestCarriesTheEncodedAbsoluteUrl) {
  ScriptedPeer peer({.chunks = {"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n"}});
  Connection conn;
  ASSERT_EQ(OpenSocket(conn), 0);
  ASSERT_EQ(ConnectTimeout(conn, peer.port(), LoopbackAddress(), 5000), 0);
  EXPECT_EQ(HeadProbe(conn, u"http://www.Example.com:81/게임/a b+c%.zip?v=1"), 1);
  EXPECT_EQ(peer.Request(),
            "HEAD http://www.Example.com:81/%B0%D4%C0%D3/a%20b%2Bc%25.zip%3Fv%3D1 "
            "HTTP/1.0\r\n\r\n");
}

TEST(HeadProbeTest, ClosedConnectionGivesZero) {
  Connection conn;
  conn.status = 200;
  EXPECT_EQ(HeadProbe(conn, u"http://127.0.0.1/x"), 0);
  EXPECT_EQ(conn.status, 0);
  EXPECT_NE(conn.lastError, 0);
}

}  // namespace
}  // namespace vespar
