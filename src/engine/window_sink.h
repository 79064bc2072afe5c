#pragma once

// The window side of the engine protocol: the one operation the engine needs
// from a front end. The Qt window implements it with a queued event, the
// console with its own thread queue, tests with RecordingWindowSink.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "src/platform/message_queue.h"

namespace vespar {

class WindowSink {
 public:
  virtual ~WindowSink() = default;
  // Posts a notification. On success the sink owns the record (it frees it
  // with `deleter` once handled); on failure the caller still owns it.
  // Called from the manager thread.
  virtual bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam,
                    RecordDeleter deleter) = 0;
};

// Posts a heap record; the record is freed here when posting fails.
template <typename T>
bool PostWindowRecord(WindowSink& sink, uint32_t msg, uintptr_t wParam,
                      std::unique_ptr<T> record) {
  T* raw = record.get();
  if (!sink.Post(msg, wParam, reinterpret_cast<intptr_t>(raw), &DeleteRecord<T>))
    return false;
  record.release();
  return true;
}

// Forwards notifications to a thread queue (a front end that runs its own
// message loop, such as the console).
class ThreadQueueWindowSink : public WindowSink {
 public:
  explicit ThreadQueueWindowSink(ThreadId thread) : thread_(thread) {}
  bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam,
            RecordDeleter deleter) override {
    return PostThreadMessage(thread_, msg, wParam, lParam, deleter);
  }

 private:
  ThreadId thread_;
};

// Keeps every notification for inspection. Thread-safe: the manager posts
// while a test waits. Records stay owned by the sink and are freed with it.
class RecordingWindowSink : public WindowSink {
 public:
  ~RecordingWindowSink() override;

  bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam,
            RecordDeleter deleter) override;

  // Makes every later Post fail (a window that is gone).
  void RefusePosts(bool refuse);

  // Waits until a message matching `match` has arrived at index `from` or
  // later; returns its index, or -1 after `timeout`.
  int WaitFor(const std::function<bool(const Message&)>& match, size_t from,
              std::chrono::milliseconds timeout);
  int WaitFor(uint32_t msg, size_t from = 0,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

  size_t size() const;
  // A copy of message i (its record still belongs to the sink).
  Message at(size_t i) const;
  std::vector<Message> Snapshot() const;
  size_t Count(uint32_t msg) const;
  // When message i arrived.
  std::chrono::steady_clock::time_point TimeOf(size_t i) const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Message> messages_;  // GUARDED_BY(mutex_)
  std::vector<std::chrono::steady_clock::time_point> times_;  // GUARDED_BY(mutex_)
  bool refuse_ = false;            // GUARDED_BY(mutex_)
};

}  // namespace vespar
