#include "src/net/connection.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "src/log/log.h"
#include "src/net/test_peer.h"
#include "src/platform/resolver.h"

namespace vespar {
namespace {

namespace fs = std::filesystem;
using net_testing::BoundSocket;
using net_testing::LoopbackAddress;
using net_testing::ScriptedPeer;
using net_testing::WaitReady;

uint32_t Address(const char* dotted) {
  in_addr a{};
  inet_pton(AF_INET, dotted, &a);
  return a.s_addr;
}

bool IsBlocking(int fd) { return !(::fcntl(fd, F_GETFL) & O_NONBLOCK); }

// An eventfd that is already readable: an interrupt that has happened.
class Interrupt {
 public:
  Interrupt() : fd_(::eventfd(1, EFD_CLOEXEC)) {}
  ~Interrupt() { ::close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A listener whose accept queue is full: further connects get no answer.
class FullListener {
 public:
  FullListener() : listener_(0) {
    OpenSocket(filler_);
    ready_ = ConnectTimeout(filler_, listener_.port(), LoopbackAddress(), 5000) == 0;
  }
  bool ready() const { return ready_; }
  uint16_t port() const { return listener_.port(); }

 private:
  BoundSocket listener_;
  Connection filler_;
  bool ready_ = false;
};

Connection* Connected(Connection& c, uint16_t port) {
  EXPECT_EQ(OpenSocket(c), 0);
  EXPECT_EQ(ConnectTimeout(c, port, LoopbackAddress(), 5000), 0);
  return &c;
}

TEST(ConnectionTest, ErrorNumbers) {
  static const struct {
    int errno_value;
    int number;
  } kCases[] = {
      {0, 0},          {ECONNRESET, 10054},  {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061}, {EAGAIN, 10035}, {EWOULDBLOCK, 10035},
      {EPIPE, 10058},  {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065},
      {EINPROGRESS, EINPROGRESS}, {EBADF, EBADF},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.errno_value);
    EXPECT_EQ(ToWinsockError(c.errno_value), c.number);
  }
}

TEST(ConnectionTest, ConnectWaitsWholeSeconds) {
  static const struct {
    int timeout_ms;
    int wait_ms;
  } kCases[] = {{0, 0}, {10, 0}, {999, 0}, {1000, 1000}, {1999, 1000},
                {5000, 5000}, {-1, 0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.timeout_ms);
    EXPECT_EQ(ConnectWaitMs(c.timeout_ms), c.wait_ms);
  }
}

int ReceiveBufferOf(int fd) {
  int size = 0;
  socklen_t length = sizeof size;
  EXPECT_EQ(getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length), 0);
  return size;
}

TEST(ConnectionTest, OpenSocketGivesAReceiveBufferAndIgnoresSigpipe) {
  Connection c;
  ASSERT_EQ(OpenSocket(c), 0);
  ASSERT_GE(c.socket, 0);
  EXPECT_GE(ReceiveBufferOf(c.socket), 65536);
  struct sigaction action {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
  EXPECT_EQ(action.sa_handler, SIG_IGN);
}

// A receive buffer set by hand stays where it was set; one left to the
// kernel grows while a bulk transfer is read. The window, and with it the
// speed of a connection over a long round trip, follows the buffer.
TEST(ConnectionTest, ReceiveBufferGrowsWithTheTransfer) {
  std::ifstream moderate("/proc/sys/net/ipv4/tcp_moderate_rcvbuf");
  int autotuning = 0;
  if (!(moderate >> autotuning) || autotuning == 0)
    GTEST_SKIP() << "receive-buffer autotuning is off on this system";
  ScriptedPeer peer({.chunks = {std::string(32 << 20, 'x')}, .readRequest = false});
  Connection c;
  Connected(c, peer.port());
  const int initial = ReceiveBufferOf(c.socket);
  std::vector<char> buffer(256 * 1024);
  int64_t total = 0;
  for (;;) {
    int n = ReceiveSome(c, buffer.data(), buffer.size(), 5000, -1);
    ASSERT_GE(n, 0) << "error " << c.lastError;
    if (n == 0) break;
    total += n;
  }
  EXPECT_EQ(total, 32 << 20);
  EXPECT_GT(ReceiveBufferOf(c.socket), initial);
  CloseSocket(c);
}

TEST(ConnectionTest, OpenSocketAgainClosesTheEarlierConnection) {
  ScriptedPeer peer({.end = ScriptedPeer::End::kStall});
  Connection c;
  Connected(c, peer.port());
  ASSERT_EQ(OpenSocket(c), 0);
  bool ended = false;
  EXPECT_EQ(peer.Request(&ended), "");
  EXPECT_TRUE(ended);
}

TEST(ConnectionTest, DestroyingTheConnectionClosesItsSocket) {
  ScriptedPeer peer({.end = ScriptedPeer::End::kStall});
  {
    Connection c;
    Connected(c, peer.port());
  }
  bool ended = false;
  EXPECT_EQ(peer.Request(&ended), "");
  EXPECT_TRUE(ended);
}

TEST(ConnectionTest, CloseSocketIsSafeToRepeat) {
  Connection c;
  EXPECT_EQ(CloseSocket(c), 0);
  ASSERT_EQ(OpenSocket(c), 0);
  EXPECT_EQ(CloseSocket(c), 0);
  EXPECT_EQ(c.socket, -1);
  EXPECT_EQ(CloseSocket(c), 0);
  EXPECT_EQ(c.socket, -1);
}

TEST(ConnectionTest, ConnectsAndReturnsToBlockingMode) {
  static const struct {
    const char* name;
    int (*connect)(Connection&, uint16_t, uint32_t, int);
    int timeout_ms;
  } kCases[] = {
      {"non-blocking connect", [](Connection& c, uint16_t p, uint32_t a, int t) {
         return ConnectTimeout(c, p, a, t);
       }, 5000},
      // Connected before the look, so even a wait of 0 seconds sees it.
      {"blocking connect", ConnectBlocking, 10},
  };
  for (const auto& v : kCases) {
    SCOPED_TRACE(v.name);
    BoundSocket listener(4);
    Connection c;
    ASSERT_EQ(OpenSocket(c), 0);
    c.lastError = 115;  // a stale error must not survive a good connect
    ASSERT_EQ(v.connect(c, listener.port(), LoopbackAddress(), v.timeout_ms), 0);
    EXPECT_TRUE(IsBlocking(c.socket));
    EXPECT_EQ(c.lastError, 0);
    EXPECT_TRUE(WaitReady(listener.fd(), POLLIN, 10000));  // the peer sees it
  }
}

TEST(ConnectionTest, RefusedConnectFailsAtOnceWithItsOwnError) {
  BoundSocket not_listening(-1);
  static const struct {
    const char* name;
    int (*connect)(Connection&, uint16_t, uint32_t, int);
  } kCases[] = {
      {"non-blocking connect", [](Connection& c, uint16_t p, uint32_t a, int t) {
         return ConnectTimeout(c, p, a, t);
       }},
      {"blocking connect", ConnectBlocking},
  };
  for (const auto& v : kCases) {
    SCOPED_TRACE(v.name);
    Connection c;
    ASSERT_EQ(OpenSocket(c), 0);
    EXPECT_EQ(v.connect(c, not_listening.port(), LoopbackAddress(), 5000), 4);
    EXPECT_EQ(c.lastError, 10061);
    EXPECT_GE(c.socket, 0);  // left for the caller to close
  }
}

TEST(ConnectionTest, UnansweredConnectTimesOutAndClosesTheSocket) {
  FullListener full;
  ASSERT_TRUE(full.ready());
  for (int timeout_ms : {1000, 999, 0}) {
    SCOPED_TRACE(timeout_ms);
    Connection c;
    ASSERT_EQ(OpenSocket(c), 0);
    EXPECT_EQ(ConnectTimeout(c, full.port(), LoopbackAddress(), timeout_ms), 3);
    EXPECT_EQ(c.socket, -1);
    EXPECT_EQ(c.lastError, 10060);
  }
}

TEST(ConnectionTest, InterruptEndsTheConnectWait) {
  FullListener full;
  ASSERT_TRUE(full.ready());
  Interrupt interrupt;
  Connection c;
  ASSERT_EQ(OpenSocket(c), 0);
  EXPECT_EQ(ConnectTimeout(c, full.port(), LoopbackAddress(), 600000, interrupt.fd()),
            kConnectInterrupted);
  EXPECT_GE(c.socket, 0);
}

TEST(ConnectionTest, ConnectWithoutASocketFails) {
  BoundSocket listener(4);
  Connection c;
  EXPECT_EQ(ConnectTimeout(c, listener.port(), LoopbackAddress(), 5000), 4);
  EXPECT_EQ(ConnectBlocking(c, listener.port(), LoopbackAddress(), 5000), 4);
}

TEST(ConnectionTest, SendAndReceive) {
  ScriptedPeer peer({.chunks = {"hello ", "world"}});
  Connection c;
  Connected(c, peer.port());
  ASSERT_EQ(SendAll(c, "GET / HTTP/1.0\r\n\r\n"), 0);
  std::string got;
  char buffer[64];
  int n;
  while ((n = ReceiveSome(c, buffer, sizeof buffer, 10000)) > 0) got.append(buffer, n);
  EXPECT_EQ(n, 0);  // end of stream
  EXPECT_EQ(got, "hello world");
  EXPECT_EQ(c.lastError, 0);
  EXPECT_EQ(peer.Request(), "GET / HTTP/1.0\r\n\r\n");
}

TEST(ConnectionTest, ReceiveTimesOutThenRecovers) {
  ScriptedPeer peer({.chunks = {"late"}, .end = ScriptedPeer::End::kStall,
                     .waitForRelease = true});
  Connection c;
  Connected(c, peer.port());
  ASSERT_EQ(SendAll(c, "x\r\n\r\n"), 0);
  char buffer[16];
  EXPECT_EQ(ReceiveSome(c, buffer, sizeof buffer, 50), kReceiveTimedOut);
  EXPECT_EQ(c.lastError, 10060);
  peer.Release();
  ASSERT_EQ(ReceiveSome(c, buffer, sizeof buffer, 10000), 4);
  EXPECT_EQ(std::string(buffer, 4), "late");
  EXPECT_EQ(c.lastError, 0);
}

TEST(ConnectionTest, InterruptEndsTheReceiveWait) {
  ScriptedPeer peer({.end = ScriptedPeer::End::kStall});
  Connection c;
  Connected(c, peer.port());
  Interrupt interrupt;
  char buffer[16];
  EXPECT_EQ(ReceiveSome(c, buffer, sizeof buffer, -1, interrupt.fd()),
            kReceiveInterrupted);
}

TEST(ConnectionTest, ResetPeerGivesResetThenBrokenPipe) {
  ScriptedPeer peer({.end = ScriptedPeer::End::kReset});
  Connection c;
  Connected(c, peer.port());
  ASSERT_EQ(SendAll(c, "x\r\n\r\n"), 0);
  ASSERT_TRUE(WaitReady(c.socket, POLLIN, 10000));  // the reset has arrived
  EXPECT_EQ(SendAll(c, "more"), 10054);
  EXPECT_EQ(c.lastError, 10054);
  EXPECT_EQ(SendAll(c, "more"), 10058);
  // A plain send without MSG_NOSIGNAL does not kill the process either.
  EXPECT_EQ(::send(c.socket, "y", 1, 0), -1);
  EXPECT_EQ(errno, EPIPE);
}

TEST(ConnectionTest, ReceiveAfterResetReportsTheReset) {
  ScriptedPeer peer({.end = ScriptedPeer::End::kReset});
  Connection c;
  Connected(c, peer.port());
  ASSERT_EQ(SendAll(c, "x\r\n\r\n"), 0);
  char buffer[16];
  EXPECT_EQ(ReceiveSome(c, buffer, sizeof buffer, 10000), -1);
  EXPECT_EQ(c.lastError, 10054);
}

TEST(ConnectionTest, PollNetworkEventsReportsDataAndEndOfStream) {
  Connection none;
  EXPECT_EQ(PollNetworkEvents(none), 0);

  ScriptedPeer peer({.chunks = {"data"}, .waitForRelease = true});
  Connection c;
  Connected(c, peer.port());
  ASSERT_EQ(SendAll(c, "x\r\n\r\n"), 0);
  peer.Request();
  EXPECT_EQ(PollNetworkEvents(c), 0);
  peer.Release();
  ASSERT_TRUE(WaitReady(c.socket, POLLIN, 10000));
  EXPECT_EQ(PollNetworkEvents(c), 1);
  char buffer[16];
  ASSERT_EQ(ReceiveSome(c, buffer, sizeof buffer, 10000), 4);
  ASSERT_TRUE(WaitReady(c.socket, POLLIN, 10000));
  EXPECT_EQ(PollNetworkEvents(c), 1);  // end of stream is readable too
  EXPECT_EQ(ReceiveSome(c, buffer, sizeof buffer, 10000), 0);
}

// Counts the questions that reach the resolver; answers from fixed entries.
class CountingResolver : public StaticResolver {
 public:
  bool ResolveFirst(const std::string& host, uint32_t* address) override {
    ++questions;
    return StaticResolver::ResolveFirst(host, address);
  }
  int questions = 0;
};

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vespar-net-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    SetLogFolderForTesting((root_ / "Log").string());
    resolver_.Add("cdn.example.com", {Address("10.9.8.7"), Address("10.9.8.6")});
    resolver_.Add(std::string(255, 'a'), {Address("10.0.0.255")});
    SetResolver(&resolver_);
  }
  void TearDown() override {
    SetResolver(nullptr);
    SetLogFolderForTesting("");
    fs::remove_all(root_);
  }

  // Everything logged so far, messages only.
  std::string Logged() {
    std::string all;
    if (!fs::exists(root_ / "Log")) return all;
    for (const auto& entry : fs::directory_iterator(root_ / "Log")) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string line;
      while (std::getline(in, line)) all += line.substr(20);  // "\r" stays
    }
    return all;
  }

  fs::path root_;
  CountingResolver resolver_;
};

TEST_F(ResolveTest, ResolveHost) {
  const std::u16string kLong255(255, u'a');
  const std::u16string kLong256(256, u'a');
  std::u16string hangul_256_bytes;  // 128 characters, two bytes each on the wire
  std::string hangul_utf8;
  for (int i = 0; i < 128; ++i) {
    hangul_256_bytes += u"가";
    hangul_utf8 += "가";
  }
  const struct {
    std::u16string token;
    int result;
    const char* address;
    int questions;
    std::string logged;  // with ResolveLog::kLogFailure
  } kCases[] = {
      {u"", 0, nullptr, 0, ""},
      {u"10.1.2.3", 1, "10.1.2.3", 0, ""},
      {u"10.1.2.3:8080", 1, "10.1.2.3", 0, ""},
      {u"cdn.example.com", 1, "10.9.8.7", 1, ""},
      {u"CDN.Example.com:81", 1, "10.9.8.7", 1, ""},
      {u"unknown.example.com:81", 0, nullptr, 1, "unknown.example.com\r"},
      {u":81", 0, nullptr, 0, "\r"},
      {kLong255, 1, "10.0.0.255", 1, ""},
      {kLong256, 0, nullptr, 0, std::string(256, 'a') + "\r"},
      {hangul_256_bytes, 0, nullptr, 0, hangul_utf8 + "\r"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.logged.substr(0, 30));
    for (ResolveLog mode : {ResolveLog::kQuiet, ResolveLog::kLogFailure}) {
      std::string before = Logged();
      resolver_.questions = 0;
      uint32_t address = 12345;
      EXPECT_EQ(ResolveHost(c.token, &address, mode), c.result);
      if (c.address) {
        EXPECT_EQ(address, Address(c.address));
      }
      EXPECT_EQ(resolver_.questions, c.questions);
      EXPECT_EQ(Logged().substr(before.size()),
                mode == ResolveLog::kQuiet ? "" : c.logged);
    }
  }
}

TEST_F(ResolveTest, ProbeServer) {
  BoundSocket listening(8);
  BoundSocket refusing(-1);
  std::string open_port = std::to_string(listening.port());
  std::string closed_port = std::to_string(refusing.port());
  const struct {
    std::string url;
    int result;
  } kCases[] = {
      {"http://127.0.0.1:" + open_port + "/game/vespar.ini", 0},
      {"http://127.0.0.1:" + open_port + "/\xB0\xA1/vespar.ini", 0},
      {"http://127.0.0.1:" + closed_port + "/vespar.ini", 4},
      {"http://unknown.example.com/vespar.ini", 8},
      {"http://127.0.0.1:" + open_port, 8},  // no "/" after the host
      {"", 8},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(ProbeServer(c.url), c.result);
  }
  EXPECT_EQ(Logged(), "");  // the reachability probe never logs
}

}  // namespace
}  // namespace vespar
