#include "src/platform/event.h"

#include <chrono>

namespace vespar {

void ManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

bool ManualResetEvent::Wait(int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  auto signalled = [this] { return signalled_; };
  if (timeout_ms < 0) {
    cv_.wait(lock, signalled);
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), signalled);
}

}  // namespace vespar
