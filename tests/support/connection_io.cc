#include "tests/support/connection_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "tests/support/http_request.h"

namespace vespar::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Largest piece written at once; also the step of rate-limited sending.
constexpr size_t kSendBlock = 16384;
// How long an orderly close waits for the peer's own close.
constexpr int kLingerMs = 2000;

// poll() on the socket and the stop descriptor. Returns the socket's revents,
// 0 on time-out, -1 when the server is stopping.
int WaitFor(int fd, short events, int stop_fd, int timeout_ms) {
  pollfd fds[2] = {{stop_fd, POLLIN, 0}, {fd, events, 0}};
  int nfds = fd >= 0 ? 2 : 1;
  for (;;) {
    int n = poll(fds, nfds, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (fds[0].revents) return -1;
    if (n == 0) return 0;
    return fds[1].revents;
  }
}

}  // namespace

void SentCounter::Add(int64_t n) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    value_ += n;
  }
  cv_.notify_all();
}

int64_t SentCounter::Value() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value_;
}

bool SentCounter::WaitFor(int64_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return value_ >= n; });
}

ConnectionIo::ConnectionIo(int fd, int stop_fd, SentCounter* sent)
    : fd_(fd), stop_fd_(stop_fd), sent_(sent) {
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

ConnectionIo::~ConnectionIo() {
  if (fd_ >= 0) close(fd_);
}

bool ConnectionIo::Stopping() const {
  pollfd p = {stop_fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}

ConnectionIo::ReadResult ConnectionIo::ReadHead(size_t max_size, std::string* head) {
  head->clear();
  char buffer[4096];
  for (;;) {
    if (WaitFor(fd_, POLLIN, stop_fd_, -1) < 0) return ReadResult::kGone;
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) return ReadResult::kGone;
    head->append(buffer, static_cast<size_t>(n));
    size_t end = FindRequestHeadEnd(*head);
    if (end > 0) {
      head->resize(end);  // a request body, if any, is left unread
      return ReadResult::kHead;
    }
    if (head->size() > max_size) return ReadResult::kTooLarge;
  }
}

bool ConnectionIo::SendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      sent_->Add(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int r = WaitFor(fd_, POLLOUT, stop_fd_, -1);
      if (r < 0 || (r & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
      continue;
    }
    return false;
  }
  return !Stopping();
}

bool ConnectionIo::Pause(int64_t ms) {
  if (ms <= 0) return !Stopping();
  return WaitFor(-1, 0, stop_fd_, static_cast<int>(std::min<int64_t>(ms, 1 << 30))) == 0;
}

void ConnectionIo::Carry(const ResponsePlan& plan) {
  if (plan.stall_before_head) {
    StallUntilGone();
    return;
  }
  const bool drip = plan.drip_bytes > 0;
  const int64_t rate = plan.rate_bytes_per_second;
  size_t step = kSendBlock;
  if (drip) {
    step = plan.drip_bytes;
  } else if (rate > 0) {
    // About twenty steps a second, so a limited transfer flows evenly.
    step = static_cast<size_t>(std::clamp<int64_t>(rate / 20, 1, kSendBlock));
  }
  int64_t budget = plan.send_limit;  // -1: no limit
  int64_t sent = 0;
  const Clock::time_point start = Clock::now();
  bool alive = true;
  for (const Piece& piece : plan.pieces) {
    size_t offset = 0;
    while (alive && offset < piece.length && budget != 0) {
      size_t n = std::min(step, piece.length - offset);
      if (budget > 0) n = std::min(n, static_cast<size_t>(budget));
      if (drip && sent > 0) {
        alive = Pause(plan.drip_interval_ms);
      } else if (rate > 0 && !drip) {
        auto due = start + std::chrono::microseconds(sent * 1000000 / rate);
        alive = Pause(std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count());
      }
      if (!alive) break;
      alive = SendAll(std::string_view(*piece.data).substr(piece.offset + offset, n));
      offset += n;
      sent += static_cast<int64_t>(n);
      if (budget > 0) budget -= static_cast<int64_t>(n);
    }
    if (!alive || budget == 0) break;
  }
  if (!alive) {
    Reset();  // the server is stopping or the peer is gone: no lingering
    return;
  }
  switch (plan.ending) {
    case Ending::kClose: CloseGracefully(); break;
    case Ending::kReset: Reset(); break;
    case Ending::kStall: StallUntilGone(); break;
  }
}

void ConnectionIo::StallUntilGone() {
  char buffer[4096];
  for (;;) {
    int r = WaitFor(fd_, POLLIN, stop_fd_, -1);
    if (r < 0) return;
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n == 0) return;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
  }
}

void ConnectionIo::CloseGracefully() {
  if (fd_ < 0) return;
  shutdown(fd_, SHUT_WR);
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kLingerMs);
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) break;
    int r = WaitFor(fd_, POLLIN, stop_fd_, static_cast<int>(left.count()));
    if (r <= 0) break;
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
  }
  close(fd_);
  fd_ = -1;
}

void ConnectionIo::Reset() {
  if (fd_ < 0) return;
  linger l = {1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd_);
  fd_ = -1;
}

}  // namespace vespar::testing
