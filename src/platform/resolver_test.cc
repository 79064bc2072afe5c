#include "src/platform/resolver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vespar {
namespace {

uint32_t Ip(const char* dotted) {
  in_addr a{};
  EXPECT_EQ(1, inet_pton(AF_INET, dotted, &a)) << dotted;
  return a.s_addr;
}

std::string Dotted(const std::vector<uint32_t>& addresses) {
  std::string out;
  for (uint32_t a : addresses) {
    in_addr in{};
    in.s_addr = a;
    if (!out.empty()) out += ' ';
    out += inet_ntoa(in);
  }
  return out;
}

// Builds DNS messages byte by byte.
class DnsMessage {
 public:
  DnsMessage& Header(int questions, int answers) {
    Put16(0x1234);
    Put16(0x8180);  // response, recursion desired and available, NOERROR
    Put16(questions);
    Put16(answers);
    Put16(0);
    Put16(0);
    return *this;
  }
  DnsMessage& Name(const std::string& dotted) {
    size_t start = 0;
    while (start < dotted.size()) {
      size_t dot = dotted.find('.', start);
      if (dot == std::string::npos) dot = dotted.size();
      bytes_.push_back(static_cast<unsigned char>(dot - start));
      bytes_.insert(bytes_.end(), dotted.begin() + start, dotted.begin() + dot);
      start = dot + 1;
    }
    bytes_.push_back(0);
    return *this;
  }
  DnsMessage& Pointer(int offset) {
    Put16(0xC000 | offset);
    return *this;
  }
  DnsMessage& Question(const std::string& name) {
    Name(name);
    Put16(1);
    Put16(1);
    return *this;
  }
  // A record whose owner name is a pointer to the question's name.
  DnsMessage& Record(int type, int klass, std::vector<unsigned char> data) {
    Pointer(12);
    Put16(type);
    Put16(klass);
    Put16(0);
    Put16(60);  // TTL
    Put16(static_cast<int>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
  }
  DnsMessage& A(unsigned char a, unsigned char b, unsigned char c,
                unsigned char d) {
    return Record(1, 1, {a, b, c, d});
  }
  DnsMessage& Raw(std::vector<unsigned char> raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
  }
  DnsMessage& Truncate(size_t drop) {
    bytes_.resize(bytes_.size() - drop);
    return *this;
  }
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  void Put16(int v) {
    bytes_.push_back(static_cast<unsigned char>(v >> 8));
    bytes_.push_back(static_cast<unsigned char>(v));
  }
  std::vector<unsigned char> bytes_;
};

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// An answer dnsmasq gave for an alias of a name with three A records.
const char kDnsmasqAliasAnswer[] =
    "12348580000100040000000005616c69617304746573740000010001c00c0005000100"
    "000000000c056d756c7469047465737400c028000100010000000000040a000003c028"
    "000100010000000000040a000001c028000100010000000000040a000002";

TEST(ParseDnsAnswerATest, Table) {
  static const struct {
    const char* name;
    std::vector<unsigned char> message;
    bool ok;
    const char* expected;
  } kCases[] = {
      {"several A records keep their order",
       DnsMessage().Header(1, 3).Question("h.test").A(10, 0, 0, 3).A(10, 0, 0, 1)
           .A(10, 0, 0, 2).bytes(),
       true, "10.0.0.3 10.0.0.1 10.0.0.2"},
      {"alias first",
       DnsMessage().Header(1, 3).Question("alias.test")
           .Record(5, 1, {4, 'r', 'e', 'a', 'l', 0xC0, 18}).A(1, 2, 3, 4)
           .A(5, 6, 7, 8).bytes(),
       true, "1.2.3.4 5.6.7.8"},
      {"answer from dnsmasq", FromHex(kDnsmasqAliasAnswer), true,
       "10.0.0.3 10.0.0.1 10.0.0.2"},
      {"no answers", DnsMessage().Header(1, 0).Question("h.test").bytes(), true,
       ""},
      {"other types and classes are passed over",
       DnsMessage().Header(1, 4).Question("h.test")
           .Record(28, 1, std::vector<unsigned char>(16, 1))  // AAAA
           .Record(1, 3, {9, 9, 9, 9})                        // class CH
           .Record(1, 1, {9, 9, 9, 9, 9})                     // A of 5 bytes
           .A(7, 7, 7, 7).bytes(),
       true, "7.7.7.7"},
      {"two questions", DnsMessage().Header(2, 1).Question("a.test")
           .Question("b.test").A(1, 1, 1, 1).bytes(), true, "1.1.1.1"},
      {"owner name written out",
       DnsMessage().Header(1, 1).Question("h.test").Name("h.test")
           .Raw({0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 8, 8, 4, 4}).bytes(),
       true, "8.8.4.4"},
      {"empty", {}, false, ""},
      {"short header", DnsMessage().Header(1, 1).Truncate(1).bytes(), false, ""},
      {"question cut short",
       DnsMessage().Header(1, 0).Question("h.test").Truncate(2).bytes(), false,
       ""},
      {"question name runs off the end",
       DnsMessage().Header(1, 0).Raw({5, 'a', 'b'}).bytes(), false, ""},
      {"fewer answers than counted",
       DnsMessage().Header(1, 3).Question("h.test").A(1, 1, 1, 1).A(2, 2, 2, 2)
           .bytes(),
       false, ""},
      {"record data cut short",
       DnsMessage().Header(1, 1).Question("h.test").A(1, 1, 1, 1).Truncate(1)
           .bytes(),
       false, ""},
      {"record header cut short",
       DnsMessage().Header(1, 1).Question("h.test").A(1, 1, 1, 1).Truncate(8)
           .bytes(),
       false, ""},
      {"pointer past the end",
       DnsMessage().Header(1, 1).Question("h.test").Pointer(0x3FFF)
           .Raw({0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 1, 1, 1, 1}).bytes(),
       false, ""},
      {"pointer to itself",
       DnsMessage().Header(1, 1).Question("h.test").Pointer(24)
           .Raw({0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 1, 1, 1, 1}).bytes(),
       false, ""},
      {"pointer cut in half",
       DnsMessage().Header(1, 1).Question("h.test").Raw({0xC0}).bytes(), false,
       ""},
      {"reserved label type",
       DnsMessage().Header(1, 0).Raw({0x41, 'a', 0, 0, 1, 0, 1}).bytes(), false,
       ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // An exact-size copy, so the sanitizers catch any read past the end.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[c.message.size()]);
    if (!c.message.empty())
      std::memcpy(copy.get(), c.message.data(), c.message.size());
    std::vector<uint32_t> addresses = {Ip("9.9.9.9")};
    EXPECT_EQ(c.ok, ParseDnsAnswerA(c.message.empty() ? nullptr : copy.get(),
                                    static_cast<int>(c.message.size()),
                                    &addresses));
    // Results are appended; a malformed message appends nothing.
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(Ip("9.9.9.9"), addresses.front());
    addresses.erase(addresses.begin());
    EXPECT_EQ(c.expected, Dotted(addresses));
  }
}

TEST(ParseDnsAnswerATest, MutatedAnswersNeverReadOutsideTheMessage) {
  std::vector<unsigned char> base = FromHex(kDnsmasqAliasAnswer);
  std::mt19937 rng(42);
  for (int round = 0; round < 20000; ++round) {
    std::vector<unsigned char> m = base;
    int edits = 1 + rng() % 4;
    for (int i = 0; i < edits; ++i) m[rng() % m.size()] = static_cast<unsigned char>(rng());
    m.resize(rng() % (m.size() + 1));
    std::unique_ptr<unsigned char[]> copy(new unsigned char[m.size()]);
    if (!m.empty()) std::memcpy(copy.get(), m.data(), m.size());
    std::vector<uint32_t> addresses;
    if (ParseDnsAnswerA(copy.get(), static_cast<int>(m.size()), &addresses)) {
      EXPECT_LE(addresses.size(), 4u);
    } else {
      EXPECT_TRUE(addresses.empty());
    }
  }
}

TEST(StaticResolverTest, Answers) {
  StaticResolver r;
  r.Add("Multi.Test", {Ip("10.0.0.3"), Ip("10.0.0.1")});
  r.Add("empty.test", {});
  static const struct {
    const char* host;
    LookupOutcome outcome;
    const char* addresses;
  } kCases[] = {
      {"multi.test", LookupOutcome::kAddresses, "10.0.0.3 10.0.0.1"},
      {"MULTI.test", LookupOutcome::kAddresses, "10.0.0.3 10.0.0.1"},
      {"127.0.0.9", LookupOutcome::kAddresses, "127.0.0.9"},
      {"empty.test", LookupOutcome::kNone, ""},
      {"unknown.test", LookupOutcome::kNone, ""},
      {"multi.test:80", LookupOutcome::kNone, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.host);
    std::vector<uint32_t> addresses;
    EXPECT_EQ(c.outcome, r.LookupA(c.host, &addresses));
    EXPECT_EQ(c.addresses, Dotted(addresses));
    uint32_t first = 0;
    EXPECT_EQ(!addresses.empty(), r.ResolveFirst(c.host, &first));
    if (!addresses.empty()) {
      EXPECT_EQ(addresses.front(), first);
    }
  }
  // A failing DNS query leaves the host look-up working.
  r.FailLookups(true);
  std::vector<uint32_t> addresses;
  EXPECT_EQ(LookupOutcome::kFailed, r.LookupA("multi.test", &addresses));
  EXPECT_TRUE(addresses.empty());
  uint32_t first = 0;
  EXPECT_TRUE(r.ResolveFirst("multi.test", &first));
  EXPECT_EQ(Ip("10.0.0.3"), first);
}

TEST(CurrentResolverTest, InstallAndRestore) {
  EXPECT_NE(nullptr, dynamic_cast<SystemResolver*>(&CurrentResolver()));
  StaticResolver fixed;
  SetResolver(&fixed);
  EXPECT_EQ(&fixed, &CurrentResolver());
  SetResolver(nullptr);
  EXPECT_NE(nullptr, dynamic_cast<SystemResolver*>(&CurrentResolver()));
}

TEST(SystemResolverTest, ResolveFirst) {
  static const struct {
    std::string host;
    bool ok;
    const char* address;
  } kCases[] = {
      {"localhost", true, "127.0.0.1"},
      {"127.0.0.5", true, "127.0.0.5"},
      {"", false, ""},
      {std::string(256, 'a'), false, ""},
      {std::string("localhost\0evil", 14), false, ""},
  };
  SystemResolver r;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.host.substr(0, 20));
    uint32_t address = 0;
    EXPECT_EQ(c.ok, r.ResolveFirst(c.host, &address));
    if (c.ok) {
      EXPECT_EQ(Ip(c.address), address);
    }
  }
}

// Debian's dnsmasq as a real nameserver on a free loopback UDP port, run in
// the foreground and stopped by its pid.
class DnsmasqForTest {
 public:
  static constexpr char kBinary[] = "/usr/sbin/dnsmasq";

  DnsmasqForTest() = default;
  DnsmasqForTest(const DnsmasqForTest&) = delete;
  DnsmasqForTest& operator=(const DnsmasqForTest&) = delete;
  ~DnsmasqForTest() { Stop(); }

  static uint16_t FreeLoopbackUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    close(fd);
    return port;
  }

  // Starts dnsmasq serving only the records in `records`. Another program
  // may take the chosen port first, so a few ports are tried.
  bool Start(const std::vector<std::string>& records, std::string* error) {
    if (access(kBinary, X_OK) != 0) {
      *error = std::string(kBinary) + " is missing (package dnsmasq-base)";
      return false;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
      uint16_t port = FreeLoopbackUdpPort();
      if (port != 0 && StartOn(port, records, error)) return true;
    }
    return false;
  }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (log_fd_ >= 0) close(log_fd_);
    log_fd_ = -1;
  }

  uint16_t port() const { return port_; }

 private:
  bool StartOn(uint16_t port, const std::vector<std::string>& records,
               std::string* error) {
    std::vector<std::string> args = {
        kBinary, "--no-daemon", "--conf-file=/dev/null", "--pid-file=",
        "--log-facility=-", "--no-resolv", "--no-hosts", "--no-round-robin",
        "--bind-interfaces", "--listen-address=127.0.0.1",
        "--port=" + std::to_string(port)};
    // As root dnsmasq would switch to "nobody"; staying root avoids needing
    // that account and the right to change users.
    if (geteuid() == 0) args.push_back("--user=root");
    args.insert(args.end(), records.begin(), records.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char* envp[] = {const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"),
                    nullptr};

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
      *error = "pipe failed";
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    pid_t pid;
    int rc = posix_spawn(&pid, kBinary, &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (rc != 0) {
      close(pipe_fds[0]);
      *error = "cannot start dnsmasq: " + std::string(strerror(rc));
      return false;
    }
    pid_ = pid;
    log_fd_ = pipe_fds[0];  // kept open: dnsmasq logs here until it stops
    port_ = port;
    // dnsmasq binds its sockets before it reports "started"; a failed bind
    // ends it with a message instead.
    std::string log;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (log.find("started, version") == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{log_fd_, POLLIN, 0};
      char buffer[4096];
      ssize_t n = 0;
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
          (n = read(log_fd_, buffer, sizeof buffer)) <= 0) {
        *error = "dnsmasq did not start: " + log;
        Stop();
        return false;
      }
      log.append(buffer, n);
    }
    return true;
  }

  pid_t pid_ = -1;
  int log_fd_ = -1;
  uint16_t port_ = 0;
};

class DnsServerResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server_.Start(
        {"--local=/test/",  // unknown names below test. are NXDOMAIN
         "--host-record=multi.test,10.0.0.3",
         "--host-record=multi.test,10.0.0.1",
         "--host-record=multi.test,10.0.0.2",
         "--host-record=v6only.test,::1",
         "--cname=alias.test,multi.test"},
        &error))
        << error;
  }
  DnsmasqForTest server_;
};

TEST_F(DnsServerResolverTest, Outcomes) {
  static const struct {
    std::string host;
    LookupOutcome outcome;
    const char* addresses;
  } kCases[] = {
      {"multi.test", LookupOutcome::kAddresses, "10.0.0.3 10.0.0.1 10.0.0.2"},
      {"alias.test", LookupOutcome::kAddresses, "10.0.0.3 10.0.0.1 10.0.0.2"},
      {"MULTI.TEST", LookupOutcome::kAddresses, "10.0.0.3 10.0.0.1 10.0.0.2"},
      {"10.1.2.3", LookupOutcome::kAddresses, "10.1.2.3"},
      {"v6only.test", LookupOutcome::kNone, ""},    // name without an A record
      {"unknown.test", LookupOutcome::kNone, ""},   // NXDOMAIN
      // Names outside the served domain are refused: the look-up failed.
      {"elsewhere.example", LookupOutcome::kFailed, ""},
      {"multi.test:8080", LookupOutcome::kFailed, ""},
      {std::string(300, 'a'), LookupOutcome::kFailed, ""},
  };
  DnsServerResolver r("127.0.0.1", server_.port());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.host.substr(0, 20));
    std::vector<uint32_t> addresses;
    EXPECT_EQ(c.outcome, r.LookupA(c.host, &addresses));
    EXPECT_EQ(c.addresses, Dotted(addresses));
    uint32_t first = 0;
    EXPECT_EQ(!addresses.empty(), r.ResolveFirst(c.host, &first));
    if (!addresses.empty()) {
      EXPECT_EQ(addresses.front(), first);
    }
  }
}

TEST_F(DnsServerResolverTest, ConcurrentLookupsShareNoState) {
  DnsServerResolver r("127.0.0.1", server_.port());
  std::vector<std::string> results(4);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 25; ++i) {
          std::vector<uint32_t> addresses;
          r.LookupA(t % 2 ? "alias.test" : "multi.test", &addresses);
          if (Dotted(addresses) != "10.0.0.3 10.0.0.1 10.0.0.2") {
            results[t] = Dotted(addresses);
            return;
          }
        }
        results[t] = "ok";
      });
    }
  }
  for (const auto& result : results) EXPECT_EQ("ok", result);
}

TEST(DnsServerResolverNoServerTest, SilentServerFails) {
  uint16_t port = DnsmasqForTest::FreeLoopbackUdpPort();
  ASSERT_NE(0, port);
  DnsServerResolver r("127.0.0.1", port);
  std::vector<uint32_t> addresses;
  EXPECT_EQ(LookupOutcome::kFailed, r.LookupA("multi.test", &addresses));
  EXPECT_TRUE(addresses.empty());
  DnsServerResolver bad("not-an-address", 53);
  EXPECT_EQ(LookupOutcome::kFailed, bad.LookupA("multi.test", &addresses));
}

}  // namespace
}  // namespace vespar
