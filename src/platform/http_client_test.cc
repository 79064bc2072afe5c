#include "src/platform/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace vespar {
namespace {

// A loopback server that answers the n-th connection with the n-th canned
// reply and records every request head. A reply marked `stall` keeps its
// connection open without sending more until the client gives up.
class CannedServer {
 public:
  struct Reply {
    std::string bytes;
    bool stall = false;
  };

  explicit CannedServer(std::vector<Reply> replies) : replies_(std::move(replies)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listen_fd_, 8);
    socklen_t len = sizeof addr;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (pipe(stop_) != 0) stop_[0] = stop_[1] = -1;
    thread_ = std::thread([this] { Run(); });
  }

  ~CannedServer() {
    if (write(stop_[1], "x", 1) < 0) {}
    thread_.join();
    close(listen_fd_);
    close(stop_[0]);
    close(stop_[1]);
  }

  uint16_t port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Waits until `fd` is readable or the server stops. False on stop.
  bool WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, 60000) <= 0) return false;
    return (fds[1].revents & POLLIN) == 0;
  }

  void Run() {
    for (const Reply& reply : replies_) {
      if (!WaitReadable(listen_fd_)) return;
      int fd = accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos && WaitReadable(fd)) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, n);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(head);
      }
      send(fd, reply.bytes.data(), reply.bytes.size(), MSG_NOSIGNAL);
      if (reply.stall) {
        // Until the client closes (recv gives 0) or the server stops.
        while (WaitReadable(fd) && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
      }
      close(fd);
    }
  }

  std::vector<Reply> replies_;
  int listen_fd_ = -1;
  int stop_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;  // GUARDED_BY(mutex_)
};

std::string Answer(const std::string& status_line, const std::string& body,
                   const std::string& extra_headers = "") {
  return "HTTP/1.1 " + status_line + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n" + extra_headers + "\r\n" + body;
}

struct Collected {
  std::string body;
  size_t largest_block = 0;
  int blocks = 0;
};

HttpGetResult Get(HttpGetRequest request, Collected* out) {
  return HttpGet(request, [out](std::string_view block) {
    out->body.append(block);
    out->largest_block = std::max(out->largest_block, block.size());
    ++out->blocks;
  });
}

TEST(HttpClientTest, SendsHttp10GetWithAgentNoCacheAndEncodedQuery) {
  static const struct {
    const char* agent;
    const char* path;
    const char* request_line;
  } kCases[] = {
      {"Download", "/vespar.ini?Fri Dec 11 01:55:37 2026\n",
       "GET /vespar.ini?Fri%20Dec%2011%2001:55:37%202026%0A HTTP/1.0\r\n"},
      {"HTTP", "/script.txt", "GET /script.txt HTTP/1.0\r\n"},
      {"Download", "/\xB0\xA1 a.ini", "GET /%B0%A1%20a.ini HTTP/1.0\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    CannedServer server({{Answer("200 OK", "body")}});
    HttpGetRequest request;
    request.url = server.url(c.path);
    request.agent = c.agent;
    Collected got;
    HttpGetResult result = Get(request, &got);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(got.body, "body");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& head = requests[0];
    EXPECT_EQ(head.rfind(c.request_line, 0), 0u) << head;
    EXPECT_NE(head.find(std::string("\r\nUser-Agent: ") + c.agent + "\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nPragma: no-cache\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << head;
  }
}

TEST(HttpClientTest, LargeBodyArrivesWholeInBlocksOfAtMost64999Bytes) {
  std::string body;
  for (int i = 0; i < 300000; ++i) body += static_cast<char>('a' + i % 26);
  CannedServer server({{Answer("200 OK", body)}});
  HttpGetRequest request;
  request.url = server.url("/big");
  Collected got;
  HttpGetResult result = Get(request, &got);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(got.body, body);
  EXPECT_LE(got.largest_block, kHttpMaxBlock);
  EXPECT_GE(got.blocks, 5);
}

TEST(HttpClientTest, NonOkStatusIsReportedAndItsBodyIsNotRead) {
  static const struct {
    const char* status_line;
    int status;
  } kCases[] = {
      {"404 Not Found", 404},
      {"500 Internal Server Error", 500},
      {"503 Service Unavailable", 503},
      {"204 No Content", 204},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status_line);
    std::string body = c.status == 204 ? "" : "<html>error page</html>";
    CannedServer server({{Answer(c.status_line, body)}});
    HttpGetRequest request;
    request.url = server.url("/vespar.ini");
    Collected got;
    HttpGetResult result = Get(request, &got);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(got.body, "");
  }
}

TEST(HttpClientTest, ErrorAnswerCutShortStillReportsItsStatus) {
  CannedServer server({{"HTTP/1.1 500 Oops\r\nContent-Length: 1000\r\n\r\nabc"}});
  HttpGetRequest request;
  request.url = server.url("/vespar.ini");
  Collected got;
  HttpGetResult result = Get(request, &got);
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(result.status, 500);
}

TEST(HttpClientTest, FollowsRedirectsOverHttpUpToFive) {
  auto redirect = [](const std::string& to) {
    return CannedServer::Reply{Answer("302 Found", "", "Location: " + to + "\r\n")};
  };
  {
    CannedServer server({redirect("/second"), redirect("/third"), {Answer("200 OK", "final")}});
    HttpGetRequest request;
    request.url = server.url("/first");
    Collected got;
    HttpGetResult result = Get(request, &got);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(got.body, "final");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].rfind("GET /third HTTP/1.0\r\n", 0), 0u) << requests[2];
  }
  {
    std::vector<CannedServer::Reply> replies;
    for (int i = 0; i < 7; ++i) replies.push_back(redirect("/again" + std::to_string(i)));
    CannedServer server(replies);
    HttpGetRequest request;
    request.url = server.url("/loop");
    Collected got;
    HttpGetResult result = Get(request, &got);
    EXPECT_EQ(result.error, kHttpErrorBase + 47);  // too many redirects
    EXPECT_EQ(server.requests().size(), 6u);       // the first and five more
  }
  {
    CannedServer server({redirect("https://127.0.0.1:1/secure")});
    HttpGetRequest request;
    request.url = server.url("/to-https");
    Collected got;
    HttpGetResult result = Get(request, &got);
    EXPECT_EQ(result.error, kHttpErrorBase + 1);  // scheme not allowed
    EXPECT_EQ(got.body, "");
  }
}

TEST(HttpClientTest, BrokenTransfersGiveTheirErrorNumber) {
  // Stalls end after the (shortened) stall time-out instead of hanging.
  static const struct {
    const char* name;
    const char* reply;
    bool stall;
    int error;
  } kCases[] = {
      {"short body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", false,
       kHttpErrorBase + 18},
      {"stall in body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", true,
       kHttpErrorBase + 28},
      {"stall before head", "", true, kHttpErrorBase + 28},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    CannedServer server({{c.reply, c.stall}});
    HttpGetRequest request;
    request.url = server.url("/file");
    request.stallTimeoutS = 1;
    Collected got;
    HttpGetResult result = Get(request, &got);
    EXPECT_EQ(result.error, c.error);
  }
}

TEST(HttpClientTest, RefusedConnectionGivesCouldNotConnect) {
  // Take a free port, then close it so nothing listens there.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  HttpGetRequest request;
  request.url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/vespar.ini";
  Collected got;
  HttpGetResult result = Get(request, &got);
  EXPECT_EQ(result.error, kHttpErrorBase + 7);
  EXPECT_EQ(result.status, 0);
}

TEST(HttpClientTest, LoopbackIsNeverSentThroughAProxy) {
  // A proxy that does not exist: a request through it would fail.
  const char* saved = std::getenv("http_proxy");
  std::string saved_value = saved ? saved : "";
  setenv("http_proxy", "http://127.0.0.1:1", 1);
  CannedServer server({{Answer("200 OK", "direct")}});
  HttpGetRequest request;
  request.url = server.url("/vespar.ini");
  Collected got;
  HttpGetResult result = Get(request, &got);
  if (saved) {
    setenv("http_proxy", saved_value.c_str(), 1);
  } else {
    unsetenv("http_proxy");
  }
  EXPECT_EQ(result.error, 0);
  EXPECT_EQ(got.body, "direct");
}

TEST(HttpClientTest, EscapeRequestUrlEncodesOnlyWhatAUrlCannotCarry) {
  static const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"http://h:81/a/b.ini?x=1&y=2", "http://h:81/a/b.ini?x=1&y=2"},
      {"http://h/a b\n", "http://h/a%20b%0A"},
      {"http://h/%41", "http://h/%41"},
      {"http://h/\xC7\xD1\x7F", "http://h/%C7%D1%7F"},
      {"http://h/\"<>\\^`{|}", "http://h/%22%3C%3E%5C%5E%60%7B%7C%7D"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(EscapeRequestUrl(c.in), c.out);
  }
}

}  // namespace
}  // namespace vespar
