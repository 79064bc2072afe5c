#pragma once

// Loopback peers for the socket tests of this folder (header only, test use).
//
// ScriptedPeer accepts one client on 127.0.0.1, reads its request up to the
// blank line (or end of stream), sends scripted chunks one send each, and then
// closes, resets or stalls until it is destroyed. A script may hold its
// answer back until Release(), so a test can order events without sleeping.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vespar::net_testing {

inline uint32_t LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

// A TCP socket bound to 127.0.0.1 on a free port. listen_backlog < 0 leaves it
// unlisted, which makes connects to the port fail with "refused".
class BoundSocket {
 public:
  explicit BoundSocket(int listen_backlog) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = LoopbackAddress();
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    if (listen_backlog >= 0) ::listen(fd_, listen_backlog);
  }
  ~BoundSocket() { ::close(fd_); }
  BoundSocket(const BoundSocket&) = delete;
  BoundSocket& operator=(const BoundSocket&) = delete;

  int fd() const { return fd_; }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Waits until `fd` reports `events`, at most `timeout_ms`. True when it did.
inline bool WaitReady(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, timeout_ms) == 1;
}

class ScriptedPeer {
 public:
  enum class End { kClose, kReset, kStall };
  struct Script {
    std::vector<std::string> chunks;
    End end = End::kClose;
    bool readRequest = true;      // read up to the blank line before answering
    bool waitForRelease = false;  // hold the answer until Release()
  };

  explicit ScriptedPeer(Script script)
      : script_(std::move(script)),
        listener_(8),
        stop_(::eventfd(0, EFD_CLOEXEC)),
        release_(::eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedPeer() {
    uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(stop_);
    ::close(release_);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  uint16_t port() const { return listener_.port(); }

  void Release() {
    uint64_t one = 1;
    (void)!::write(release_, &one, sizeof one);
  }

  // The bytes the client sent before the answer; waits (bounded) until the
  // peer has read them. `*ended` tells whether the client closed instead.
  std::string Request(bool* ended = nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [this] { return request_done_; });
    if (ended) *ended = client_ended_;
    return request_;
  }

 private:
  // Waits for `fd` to be readable or the stop signal. False on stop.
  bool WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
    }
    return fds[1].revents == 0;
  }

  void Run() {
    if (!WaitReadable(listener_.fd())) return;
    int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string request;
    bool ended = false;
    while (script_.readRequest && request.find("\r\n\r\n") == std::string::npos) {
      if (!WaitReadable(fd)) break;
      char buffer[4096];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        ended = true;
        break;
      }
      request.append(buffer, static_cast<size_t>(n));
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      request_ = request;
      client_ended_ = ended;
      request_done_ = true;
      changed_.notify_all();
    }
    // The stop signal ends the wait too, so a failing test never hangs here.
    if (script_.waitForRelease && !WaitReadable(release_)) {
      ::close(fd);
      return;
    }
    for (const std::string& chunk : script_.chunks)
      ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (script_.end == End::kReset) {
      linger l{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else if (script_.end == End::kStall) {
      WaitReadable(stop_);
    }
    ::close(fd);
  }

  Script script_;
  BoundSocket listener_;
  int stop_;
  int release_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string request_;        // guarded by mutex_
  bool request_done_ = false;  // guarded by mutex_
  bool client_ended_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace vespar::net_testing
