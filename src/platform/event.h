#pragma once

#include <condition_variable>
#include <mutex>

namespace vespar {

// A manual-reset event: stays signalled until Reset, wakes every waiter.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until signalled or timeout_ms passes (-1: no limit). True when signalled.
  bool Wait(int timeout_ms = -1) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  bool signalled_;  // GUARDED_BY(mutex_)
};

}  // namespace vespar
