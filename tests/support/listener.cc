#include "tests/support/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace vespar::testing {

namespace {

constexpr int kBacklog = 128;

bool IsListening(AddressMode mode) { return mode != AddressMode::kRefuse; }

// A bound socket, or -1 with errno set.
int BoundSocket(const std::string& address, uint16_t port) {
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

}  // namespace

Listener::Listener(std::string address, size_t index, int stop_fd, AcceptFn on_accept,
                   CountFn on_count)
    : address_(std::move(address)),
      index_(index),
      stop_fd_(stop_fd),
      on_accept_(std::move(on_accept)),
      on_count_(std::move(on_count)) {
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Listener::~Listener() {
  Join();
  Close();
  if (wake_fd_ >= 0) close(wake_fd_);
}

int Listener::Bind(uint16_t port, AddressMode mode) {
  Close();
  fd_ = BoundSocket(address_, port);
  if (fd_ < 0) return errno;
  if (IsListening(mode) && listen(fd_, kBacklog) != 0) {
    int e = errno;
    Close();
    return e;
  }
  sockaddr_in sa = {};
  socklen_t len = sizeof sa;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  std::lock_guard<std::mutex> lock(mutex_);
  wanted_ = applied_ = mode;
  return 0;
}

void Listener::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void Listener::Start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
  }
  thread_ = std::thread([this] { Run(); });
}

void Listener::Join() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;
  applied_cv_.notify_all();
}

bool Listener::SetMode(AddressMode mode) {
  std::unique_lock<std::mutex> lock(mutex_);
  wanted_ = mode;
  if (!running_) {
    ApplyMode();
    return !apply_failed_;
  }
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
  applied_cv_.wait(lock, [&] { return applied_ == wanted_ || !running_; });
  return applied_ == mode && !apply_failed_;
}

void Listener::ApplyMode() {
  if (wanted_ == applied_) return;
  apply_failed_ = false;
  if (IsListening(wanted_) && !IsListening(applied_)) {
    if (fd_ < 0 || listen(fd_, kBacklog) != 0) apply_failed_ = true;
  } else if (!IsListening(wanted_) && IsListening(applied_)) {
    // Closing the listener drops its backlog; the port stays ours through a
    // new socket that is bound but never listens, so connects are refused.
    Close();
    fd_ = BoundSocket(address_, port_);
    if (fd_ < 0) apply_failed_ = true;
  }
  applied_ = wanted_;
  applied_cv_.notify_all();
}

void Listener::Run() {
  for (;;) {
    AddressMode mode;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ApplyMode();
      mode = applied_;
    }
    pollfd fds[3] = {{stop_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    int nfds = IsListening(mode) && fd_ >= 0 ? 3 : 2;
    int n = poll(fds, nfds, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[0].revents) break;
    if (fds[1].revents) {
      uint64_t value;
      [[maybe_unused]] ssize_t r = read(wake_fd_, &value, sizeof value);
      continue;
    }
    if (nfds < 3 || !fds[2].revents) continue;
    int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: wait a little instead of spinning on the backlog.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        poll(fds, 1, 50);
      continue;  // otherwise the peer gave up already
    }
    on_count_(index_);
    if (mode == AddressMode::kServe) {
      on_accept_(fd, index_);
      continue;
    }
    if (mode == AddressMode::kResetAtOnce) {
      linger l = {1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    close(fd);
  }
  Close();  // a stopped server refuses every later connect
  std::lock_guard<std::mutex> lock(mutex_);
  running_ = false;  // releases a SetMode() waiting for this thread
  applied_cv_.notify_all();
}

}  // namespace vespar::testing
