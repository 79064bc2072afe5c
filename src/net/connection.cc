#include "src/net/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>

#include "src/log/log.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "src/platform/resolver.h"

namespace vespar {

namespace {

constexpr int kReceiveBufferBytes = 65536;  // the least a connection gets
constexpr size_t kHostNameLimit = 255;  // bytes in the wire code page
constexpr int kProbeConnectMs = 5000;

enum class Ready { kSocket, kInterrupt, kTimeout, kError };

// Waits until `fd` reports one of `events` or `interrupt_fd` (when not -1)
// turns readable, for at most timeout_ms (-1: no limit; 0: look once).
// Signals do not shorten the wait. *revents gets the socket's events.
Ready WaitFor(int fd, short events, int timeout_ms, int interrupt_fd,
              short* revents) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd fds[2] = {{fd, events, 0}, {interrupt_fd, POLLIN, 0}};
    int n = ::poll(fds, interrupt_fd >= 0 ? 2 : 1, wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Ready::kError;
    }
    *revents = fds[0].revents;
    if (interrupt_fd >= 0 && fds[1].revents != 0) return Ready::kInterrupt;
    if (n > 0 && fds[0].revents != 0) return Ready::kSocket;
    if (timeout_ms >= 0 && (wait_ms == 0 || Clock::now() >= deadline))
      return Ready::kTimeout;
  }
}

bool SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

sockaddr_in MakeAddress(uint16_t port, uint32_t address_net) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = address_net;
  return addr;
}

int Fail(Connection& c, int errno_value, int result) {
  c.lastError = ToWinsockError(errno_value);
  return result;
}

// After a wait for writability: 0 when the connection stands, else 4 with
// the connection's error recorded.
int ConnectOutcome(Connection& c, short revents) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(c.socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
    return Fail(c, errno, 4);
  if (error != 0) return Fail(c, error, 4);
  if (!(revents & POLLOUT)) return Fail(c, ENOTCONN, 4);
  return 0;
}

// Waits up to whole seconds of timeout_ms for the connect to finish.
int WaitConnected(Connection& c, int timeout_ms, int interrupt_fd) {
  short revents = 0;
  switch (WaitFor(c.socket, POLLOUT, ConnectWaitMs(timeout_ms), interrupt_fd,
                  &revents)) {
    case Ready::kError:
      return Fail(c, errno, 4);
    case Ready::kInterrupt:
      return kConnectInterrupted;
    case Ready::kTimeout:
      ::close(c.socket);
      c.socket = -1;
      return Fail(c, ETIMEDOUT, 3);
    case Ready::kSocket:
      break;
  }
  return ConnectOutcome(c, revents);
}

}  // namespace

int ConnectWaitMs(int timeout_ms) {
  return timeout_ms > 0 ? (timeout_ms / 1000) * 1000 : 0;
}

Connection::~Connection() {
  if (socket >= 0) ::close(socket);
}

int ToWinsockError(int errno_value) {
  switch (errno_value) {
    case ECONNRESET: return 10054;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EAGAIN: return 10035;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EPIPE: return 10058;
    case ENETUNREACH: return 10051;
    case EHOSTUNREACH: return 10065;
    default: return errno_value;
  }
}

void IgnoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

int OpenSocket(Connection& c) {
  IgnoreSigpipe();
  if (c.socket >= 0) {
    ::close(c.socket);
    c.socket = -1;
  }
  c.lastError = 0;
  c.socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (c.socket < 0) return Fail(c, errno, -1);
  int size = 0;
  socklen_t length = sizeof size;
  if (::getsockopt(c.socket, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
    return Fail(c, errno, 1);
  if (size >= kReceiveBufferBytes) return 0;  // left to autotuning
  size = kReceiveBufferBytes;
  if (::setsockopt(c.socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0)
    return Fail(c, errno, 1);
  return 0;
}

int CloseSocket(Connection& c) {
  if (c.socket >= 0) {
    ::shutdown(c.socket, SHUT_RDWR);
    ::close(c.socket);
    c.socket = -1;
  }
  return 0;
}

int ConnectTimeout(Connection& c, uint16_t port, uint32_t address_net,
                   int timeout_ms, int interrupt_fd) {
  if (c.socket < 0) return Fail(c, EBADF, 4);
  sockaddr_in addr = MakeAddress(port, address_net);
  if (!SetNonBlocking(c.socket, true)) return Fail(c, errno, 4);
  if (::connect(c.socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // A refused connect may be reported here already, or below as an error
    // on a socket that turned writable; both are failures at once.
    if (errno != EINPROGRESS && errno != EINTR) return Fail(c, errno, 4);
    int result = WaitConnected(c, timeout_ms, interrupt_fd);
    if (result != 0) return result;
  }
  if (!SetNonBlocking(c.socket, false)) return Fail(c, errno, 4);
  c.lastError = 0;
  return 0;
}

int ConnectBlocking(Connection& c, uint16_t port, uint32_t address_net,
                    int timeout_ms) {
  if (c.socket < 0) return Fail(c, EBADF, 4);
  sockaddr_in addr = MakeAddress(port, address_net);
  if (::connect(c.socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
      errno != EINTR) {
    return Fail(c, errno, 4);
  }
  // Interrupted by a signal, the connect goes on in the background.
  int result = WaitConnected(c, timeout_ms, -1);
  if (result != 0) return result;
  c.lastError = 0;
  return 0;
}

int ResolveHost(std::u16string_view host_token, uint32_t* address_net,
                ResolveLog log) {
  if (host_token.empty()) return 0;
  std::u16string name = HostNameOfToken(host_token);
  std::string wire = ToWire(name);
  bool usable = !wire.empty() && wire.size() <= kHostNameLimit &&
                wire.find('\0') == std::string::npos;
  if (usable) {
    *address_net = 0;
    in_addr dotted{};
    if (::inet_pton(AF_INET, wire.c_str(), &dotted) == 1) {
      *address_net = dotted.s_addr;
      return 1;
    }
    uint32_t found = 0;
    if (CurrentResolver().ResolveFirst(wire, &found)) {
      *address_net = found;
      return 1;
    }
  }
  if (log == ResolveLog::kLogFailure) LogPrintf("%s", ToUtf8(name).c_str());
  return 0;
}

int PollNetworkEvents(Connection& c) {
  if (c.socket < 0) return 0;
  pollfd fd{c.socket, POLLIN, 0};
  int n;
  do {
    n = ::poll(&fd, 1, 0);
  } while (n < 0 && errno == EINTR);
  // End of stream and a reset are reported as readable too: the read that
  // follows sees them.
  return n > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}

int SendAll(Connection& c, std::string_view bytes) {
  if (c.socket < 0) return c.lastError = ToWinsockError(EBADF);
  while (!bytes.empty()) {
    ssize_t n = ::send(c.socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Wait for room instead of spinning.
      short revents = 0;
      if (WaitFor(c.socket, POLLOUT, -1, -1, &revents) == Ready::kError)
        return c.lastError = ToWinsockError(errno);
      continue;
    }
    return c.lastError = ToWinsockError(errno);
  }
  c.lastError = 0;
  return 0;
}

int ReceiveSome(Connection& c, char* buffer, size_t size, int timeout_ms,
                int interrupt_fd) {
  if (c.socket < 0) return Fail(c, EBADF, -1);
  if (size == 0) return Fail(c, EINVAL, -1);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int wait_ms = timeout_ms;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    short revents = 0;
    switch (WaitFor(c.socket, POLLIN, wait_ms, interrupt_fd, &revents)) {
      case Ready::kError:
        return Fail(c, errno, -1);
      case Ready::kInterrupt:
        return kReceiveInterrupted;
      case Ready::kTimeout:
        c.lastError = ToWinsockError(ETIMEDOUT);
        return kReceiveTimedOut;
      case Ready::kSocket:
        break;
    }
    ssize_t n = ::recv(c.socket, buffer, size, MSG_DONTWAIT);
    if (n >= 0) {
      c.lastError = 0;
      return static_cast<int>(n);
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return Fail(c, errno, -1);
  }
}

int ProbeServer(std::string_view url_wire) {
  std::u16string url = FromWire(url_wire);
  std::u16string host = GetUrlHost(url);
  uint16_t port = GetUrlPort(host);
  uint32_t address = 0;
  if (!ResolveHost(host, &address, ResolveLog::kQuiet)) return 8;
  Connection probe;
  OpenSocket(probe);
  int result = ConnectTimeout(probe, port, address, kProbeConnectMs);
  CloseSocket(probe);
  return result;
}

}  // namespace vespar
