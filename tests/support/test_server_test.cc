#include "tests/support/test_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/raw_client.h"

namespace vespar::testing {
namespace {

constexpr char kKoreanCp949[] = "\xC7\xD1\xB1\xDB\xC6\xC4\xC0\xCF.dat";  // 한글파일.dat
constexpr char kKoreanUtf8[] = "\xED\x95\x9C\xEA\xB8\x80\xED\x8C\x8C\xEC\x9D\xBC.dat";

// Bytes that differ at every position, so a slice taken at the wrong offset
// can never compare equal.
std::string Pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 2463534242u;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

// The request a range worker sends: absolute target, no Host line.
std::string RangeRequest(const TestServer& server, const std::string& path,
                         const std::string& range) {
  std::string r = "GET " + server.Url(path) + " HTTP/1.0\r\nUser-Agent:;test\r\n";
  if (!range.empty()) r += "Range: " + range + "\r\n";
  return r + "\r\n";
}

class TestServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
    content_ = Pattern(1000);
    server_.AddFile("/dir/file.bin", content_);
  }

  RawResponse Get(const std::string& request) {
    return Exchange("127.0.0.1", server_.port(), request);
  }

  TestServer server_;
  std::string content_;
};

TEST_F(TestServerTest, RangedGetAnswersExactlyTheRequestedBytes) {
  static const struct {
    const char* range;
    const char* status_line;
    const char* content_range;
    size_t first;
    size_t length;
  } kCases[] = {
      {"bytes=0-99", "HTTP/1.1 206 Partial Content", "bytes 0-99/1000", 0, 100},
      {"bytes=123-123", "HTTP/1.1 206 Partial Content", "bytes 123-123/1000", 123, 1},
      {"bytes=990-4000", "HTTP/1.1 206 Partial Content", "bytes 990-999/1000", 990, 10},
      {"bytes=500-", "HTTP/1.1 206 Partial Content", "bytes 500-999/1000", 500, 500},
      {"", "HTTP/1.1 200 OK", "<none>", 0, 1000},
      {"bytes=0--1", "HTTP/1.1 200 OK", "<none>", 0, 1000},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.range);
    // The engine's URL of a crawled entry has "//" after the host.
    RawResponse r = Get(RangeRequest(server_, "//dir/file.bin", c.range));
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.Head().substr(0, r.Head().find("\r\n")), c.status_line);
    EXPECT_EQ(r.Field("Content-Range"), c.content_range);
    EXPECT_EQ(r.Field("Content-Length"), std::to_string(c.length));
    EXPECT_EQ(r.Body(), content_.substr(c.first, c.length));
  }

  RawResponse past_end = Get(RangeRequest(server_, "/dir/file.bin", "bytes=1000-1999"));
  EXPECT_EQ(past_end.Head().substr(0, 12), "HTTP/1.1 416");
  EXPECT_EQ(past_end.Field("Content-Range"), "bytes */1000");
}

TEST_F(TestServerTest, HeadOfAWireCodePageNameAnswersLengthOnly) {
  server_.AddFile(std::string("/dir/") + kKoreanCp949, Pattern(4321));
  RawResponse r = Get("HEAD http://127.0.0.1:" + std::to_string(server_.port()) +
                      "//dir/%C7%D1%B1%DB%C6%C4%C0%CF.dat HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.Head().substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Field("Content-Length"), "4321");
  EXPECT_EQ(r.Field("Connection"), "close");
  EXPECT_EQ(r.Body(), "");

  RawResponse missing = Get("HEAD " + server_.Url("/dir/nothing.bin") + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(missing.Head().substr(0, 22), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(missing.Body(), "");
}

TEST_F(TestServerTest, FolderListingUsesUpperCaseAnchorsAndUtf8Links) {
  server_.AddFolder("/client/");
  server_.AddFile("/client/b.dat", "bb");
  server_.AddFile(std::string("/client/") + kKoreanCp949, "k", std::string("/client/") + kKoreanUtf8);
  server_.AddFile("/client/read me.txt", "r");
  server_.AddFile("/client/a+b.txt", "p");
  server_.AddFile("/client/sub/deep.dat", "d");
  server_.AddFile("/other/x.dat", "x");

  // The crawl's request: origin form, HTTP/1.1, a Host line.
  RawResponse r =
      Get("GET /client/ HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) +
          "\r\n\r\n");
  ASSERT_EQ(r.Head().substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Field("Content-Length"), std::to_string(r.Body().size()));
  const std::string body = r.Body();
  const std::string kExpected[] = {
      "<A HREF=\"/\">[To Parent Directory]</A>",
      "<A HREF=\"/client/sub/\">sub</A>",
      "<A HREF=\"/client/a%2Bb.txt\">a+b.txt</A>",
      "<A HREF=\"/client/b.dat\">b.dat</A>",
      "<A HREF=\"/client/read%20me.txt\">read me.txt</A>",
      std::string("<A HREF=\"/client/%ED%95%9C%EA%B8%80%ED%8C%8C%EC%9D%BC.dat\">") + kKoreanUtf8 +
          "</A>",
  };
  size_t last = 0;
  for (const std::string& anchor : kExpected) {
    SCOPED_TRACE(anchor);
    size_t at = body.find(anchor);
    ASSERT_NE(at, std::string::npos) << body;
    EXPECT_GT(at, last) << "listed out of order";
    last = at;
  }
  EXPECT_EQ(body.find("deep.dat"), std::string::npos) << "sub-folder contents listed";
  EXPECT_EQ(body.find("x.dat"), std::string::npos) << "another folder's file listed";

  Fault chunked;
  chunked.chunked = true;
  server_.SetFault("/client/", chunked);
  RawResponse c = Get("GET /client/ HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(c.Field("Content-Length"), "<none>");
  EXPECT_EQ(c.Field("Transfer-Encoding"), "chunked");
  EXPECT_NE(c.Body().find("<A HREF=\"/client/b.dat\">b.dat</A>"), std::string::npos);
  EXPECT_EQ(c.Body().substr(c.Body().size() - 7), "\r\n0\r\n\r\n");
}

TEST_F(TestServerTest, FaultsChangeTheAnswerAsConfigured) {
  static const struct {
    const char* name;
    Fault (*make)();
    const char* status_line;
    const char* content_length;  // nullptr: not checked
    const char* content_range;
    size_t body_first;
    size_t body_length;  // with body_first: the body is this slice of the file
    bool check_body;
    bool reset;
  } kCases[] = {
      {"status 500", [] { Fault f; f.status = 500; return f; },
       "HTTP/1.1 500 Internal Server Error", nullptr, "<none>", 0, 0, false, false},
      {"no length", [] { Fault f; f.length = LengthFault::kMissing; return f; },
       "HTTP/1.1 206 Partial Content", "<none>", "bytes 100-199/1000", 100, 100, true, false},
      {"wrong length",
       [] { Fault f; f.length = LengthFault::kWrong; f.wrong_length = 7; return f; },
       "HTTP/1.1 206 Partial Content", "7", "bytes 100-199/1000", 100, 100, true, false},
      {"range ignored", [] { Fault f; f.ignore_range = true; return f; }, "HTTP/1.1 200 OK",
       "1000", "<none>", 0, 1000, true, false},
      {"wrong content-range", [] { Fault f; f.content_range = "bytes 0-99/1000"; return f; },
       "HTTP/1.1 206 Partial Content", "100", "bytes 0-99/1000", 100, 100, true, false},
      {"bytes past the range", [] { Fault f; f.extra_bytes = 5; return f; },
       "HTTP/1.1 206 Partial Content", "100", "bytes 100-199/1000", 100, 105, true, false},
      {"close after 30 bytes", [] { Fault f; f.cut_after = 30; return f; },
       "HTTP/1.1 206 Partial Content", "100", "bytes 100-199/1000", 100, 30, true, false},
      {"reset after 30 bytes",
       [] { Fault f; f.cut_after = 30; f.ending = Ending::kReset; return f; },
       "HTTP/1.1 206 Partial Content", "100", "bytes 100-199/1000", 100, 30, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server_.SetFault("/dir/file.bin", c.make());
    RawResponse r = Get(RangeRequest(server_, "/dir/file.bin", "bytes=100-199"));
    if (c.reset) {
      // A reset may discard bytes the client has not read yet.
      EXPECT_EQ(r.error, ECONNRESET);
      EXPECT_FALSE(r.closed);
      EXPECT_LE(r.bytes.size(), r.Head().size() + c.body_length);
      continue;
    }
    EXPECT_TRUE(r.closed);
    EXPECT_EQ(r.Head().substr(0, r.Head().find("\r\n")), c.status_line);
    if (c.content_length) {
      EXPECT_EQ(r.Field("Content-Length"), c.content_length);
    }
    EXPECT_EQ(r.Field("Content-Range"), c.content_range);
    if (c.check_body) {
      EXPECT_EQ(r.Body(), content_.substr(c.body_first, c.body_length));
    }
  }
}

TEST_F(TestServerTest, FaultAppliesToTheFirstTimesAndMatchingMethodOnly) {
  Fault fault;
  fault.status = 503;
  fault.times = 2;
  fault.method = FaultMethod::kGet;
  server_.SetFault("/dir/file.bin", fault);
  const std::string head_request = "HEAD " + server_.Url("/dir/file.bin") + " HTTP/1.0\r\n\r\n";
  const std::string get_request = RangeRequest(server_, "/dir/file.bin", "");
  EXPECT_EQ(Get(head_request).Head().substr(0, 12), "HTTP/1.1 200");
  EXPECT_EQ(Get(get_request).Head().substr(0, 12), "HTTP/1.1 503");
  EXPECT_EQ(Get(get_request).Head().substr(0, 12), "HTTP/1.1 503");
  RawResponse third = Get(get_request);
  EXPECT_EQ(third.Head().substr(0, 12), "HTTP/1.1 200");
  EXPECT_EQ(third.Body(), content_);
}

TEST(TestServerAddressTest, SamePortOnSeveralAddressesWithLogAndRefusal) {
  TestServerOptions options;
  options.addresses = {{"127.0.0.2", AddressMode::kServe},
                       {"127.0.0.3", AddressMode::kServe},
                       {"127.0.0.4", AddressMode::kRefuse}};
  TestServer server(options);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  server.AddFile("/a.bin", "abcdef");

  const std::string request = "GET http://127.0.0.3:" + std::to_string(server.port()) +
                              "/a.bin HTTP/1.0\r\nUser-Agent:;ua\r\nRange: bytes=2-3\r\n\r\n";
  RawResponse r = Exchange("127.0.0.3", server.port(), request);
  EXPECT_EQ(r.Body(), "cd");
  EXPECT_EQ(Exchange("127.0.0.2", server.port(), request).Body(), "cd");
  EXPECT_EQ(Exchange("127.0.0.4", server.port(), request).error, ECONNREFUSED);

  ASSERT_TRUE(server.WaitForRequests(2));
  std::vector<RequestRecord> log = server.Requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].raw_head, request);
  EXPECT_EQ(log[0].method, "GET");
  EXPECT_EQ(log[0].version, "HTTP/1.0");
  EXPECT_EQ(log[0].path, "/a.bin");
  EXPECT_TRUE(log[0].has_range);
  EXPECT_EQ(log[0].range, "bytes=2-3");
  EXPECT_EQ(log[0].address_index, 1u);
  EXPECT_EQ(log[0].local_address, server.HostToken(1));
  EXPECT_EQ(log[0].remote_address.substr(0, 10), "127.0.0.1:");
  EXPECT_EQ(log[1].address_index, 0u);
  EXPECT_EQ(server.RequestCount("/a.bin"), 2u);

  // Addresses switch while the server runs.
  ASSERT_TRUE(server.SetAddressMode(2, AddressMode::kServe));
  EXPECT_EQ(Exchange("127.0.0.4", server.port(), request).Body(), "cd");
  ASSERT_TRUE(server.SetAddressMode(1, AddressMode::kCloseAtOnce));
  RawResponse dropped = Exchange("127.0.0.3", server.port(), request);
  EXPECT_TRUE(dropped.bytes.empty());
  EXPECT_TRUE(dropped.closed || dropped.error == ECONNRESET);
  ASSERT_TRUE(server.SetAddressMode(1, AddressMode::kRefuse));
  EXPECT_EQ(Exchange("127.0.0.3", server.port(), request).error, ECONNREFUSED);
  EXPECT_EQ(server.RequestCount(), 3u);
}

TEST_F(TestServerTest, SlowDripAndRateLimitDeliverEveryByte) {
  Fault drip;
  drip.raw_response = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  drip.drip_bytes = 10;
  drip.drip_interval_ms = 20;
  server_.SetFault("/drip", drip);
  RawResponse d = Get("GET /drip HTTP/1.0\r\n\r\n");
  EXPECT_EQ(d.bytes, *drip.raw_response);
  EXPECT_GE(d.blocks, 2) << "the head arrived in one block";

  server_.AddFile("/big.bin", Pattern(60000));
  server_.SetRateLimit(400000);
  RawResponse big = Get(RangeRequest(server_, "/big.bin", ""));
  EXPECT_TRUE(big.closed);
  EXPECT_EQ(big.Body(), Pattern(60000));
  EXPECT_GE(server_.BytesSent(), 60000);
}

TEST(TestServerStopTest, StopReturnsWhileClientsStall) {
  auto server = std::make_unique<TestServer>();
  ASSERT_TRUE(server->Start());
  server->AddFile("/big.bin", Pattern(8 << 20));
  Fault stall;
  stall.stall_before_head = true;
  server->SetFault("/stall", stall);
  Fault drip;
  drip.drip_bytes = 1;
  drip.drip_interval_ms = 3600 * 1000;
  server->SetFault("/drip", drip);

  // One client sends half a request, one is never answered, one never reads
  // a large body, one gets a byte an hour.
  int silent = ConnectTo("127.0.0.1", server->port());
  ASSERT_GE(silent, 0);
  ASSERT_GT(send(silent, "GET /", 5, MSG_NOSIGNAL), 0);
  const char* requests[] = {"GET /stall HTTP/1.0\r\n\r\n", "GET /big.bin HTTP/1.0\r\n\r\n",
                            "GET /drip HTTP/1.0\r\n\r\n"};
  std::vector<int> clients;
  for (const char* request : requests) {
    int fd = ConnectTo("127.0.0.1", server->port());
    ASSERT_GE(fd, 0);
    ASSERT_GT(send(fd, request, strlen(request), MSG_NOSIGNAL), 0);
    clients.push_back(fd);
  }
  ASSERT_TRUE(server->WaitForRequests(3));
  ASSERT_TRUE(server->WaitForConnections(4));
  ASSERT_TRUE(server->WaitForBytesSent(1));

  auto stopped = std::async(std::launch::async, [&] { server.reset(); });
  ASSERT_EQ(stopped.wait_for(std::chrono::seconds(60)), std::future_status::ready)
      << "Stop() hangs on a stalled client";
  // Every client sees its connection end rather than wait for ever.
  for (int fd : clients) {
    RawResponse rest = ReadAll(fd, 20000);
    EXPECT_FALSE(rest.timed_out);
    close(fd);
  }
  close(silent);
}

}  // namespace
}  // namespace vespar::testing
