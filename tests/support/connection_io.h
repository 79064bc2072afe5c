#pragma once

// One accepted connection of the test server, driven by its own thread.
// Every wait also watches the server's stop descriptor, so a stalled or slow
// peer never keeps Stop() waiting. The socket is non-blocking.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "tests/support/response_plan.h"

namespace vespar::testing {

// Bytes sent by every connection of a server, with a wait for a total.
class SentCounter {
 public:
  void Add(int64_t n);
  int64_t Value() const;
  // True when at least `n` bytes have been sent within timeout_ms.
  bool WaitFor(int64_t n, int timeout_ms) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  int64_t value_ = 0;  // GUARDED_BY(mutex_)
};

class ConnectionIo {
 public:
  // Takes ownership of `fd`. `stop_fd` turns readable when the server stops;
  // `*sent` counts every byte sent and must outlive this object.
  ConnectionIo(int fd, int stop_fd, SentCounter* sent);
  ~ConnectionIo();
  ConnectionIo(const ConnectionIo&) = delete;
  ConnectionIo& operator=(const ConnectionIo&) = delete;

  enum class ReadResult { kHead, kTooLarge, kGone };
  // Reads until a complete request head (at most `max_size` bytes) is in
  // *head. kGone: the peer closed or failed, or the server is stopping.
  ReadResult ReadHead(size_t max_size, std::string* head);

  // Sends the plan's bytes with its pacing and ends the connection the way
  // it says (the last step blocks while the plan stalls).
  void Carry(const ResponsePlan& plan);

  // Waits, reading and dropping whatever arrives, until the peer closes or
  // the server stops.
  void StallUntilGone();

  // Orderly close: half-close, drain briefly so the kernel sends FIN rather
  // than RST for unread request bytes, then close.
  void CloseGracefully();
  // Abortive close: the peer sees a connection reset.
  void Reset();

 private:
  // False when the server stops or the peer is gone.
  bool SendAll(std::string_view bytes);
  // Waits `ms` milliseconds unless the server stops first (false then).
  bool Pause(int64_t ms);
  bool Stopping() const;

  int fd_;
  int stop_fd_;
  SentCounter* sent_;
};

}  // namespace vespar::testing
