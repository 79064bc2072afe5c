#include "src/engine/window_sink.h"

namespace vespar {

RecordingWindowSink::~RecordingWindowSink() {
  for (Message& m : messages_) m.Free();
}

bool RecordingWindowSink::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam,
                               RecordDeleter deleter) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refuse_) return false;
    messages_.push_back(Message{msg, wParam, lParam, deleter});
    times_.push_back(std::chrono::steady_clock::now());
  }
  cv_.notify_all();
  return true;
}

void RecordingWindowSink::RefusePosts(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = refuse;
}

int RecordingWindowSink::WaitFor(const std::function<bool(const Message&)>& match,
                                 size_t from, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t next = from;
  while (true) {
    for (; next < messages_.size(); ++next) {
      if (match(messages_[next])) return static_cast<int>(next);
    }
    if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (; next < messages_.size(); ++next) {
        if (match(messages_[next])) return static_cast<int>(next);
      }
      return -1;
    }
  }
}

int RecordingWindowSink::WaitFor(uint32_t msg, size_t from,
                                 std::chrono::milliseconds timeout) {
  return WaitFor([msg](const Message& m) { return m.message == msg; }, from, timeout);
}

size_t RecordingWindowSink::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

Message RecordingWindowSink::at(size_t i) const {
  std::lock_guard<std::mutex> lock(mutex_);
  Message copy = messages_.at(i);
  copy.deleter = nullptr;
  return copy;
}

std::vector<Message> RecordingWindowSink::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Message> copy = messages_;
  for (Message& m : copy) m.deleter = nullptr;
  return copy;
}

std::chrono::steady_clock::time_point RecordingWindowSink::TimeOf(size_t i) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return times_.at(i);
}

size_t RecordingWindowSink::Count(uint32_t msg) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const Message& m : messages_) n += m.message == msg;
  return n;
}

}  // namespace vespar
