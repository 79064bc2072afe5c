#include "src/platform/message_queue.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace vespar {

struct ThreadQueue::Impl {
  Impl() : event_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Impl() {
    if (event_fd >= 0) close(event_fd);
  }

  // Makes the descriptor readable. REQUIRES: mutex is held.
  void Signal() {
    if (event_fd < 0) return;
    uint64_t one = 1;
    while (write(event_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  // Makes the descriptor unreadable. REQUIRES: mutex is held.
  void Drain() {
    if (event_fd < 0) return;
    uint64_t count;
    while (read(event_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Message> messages;  // GUARDED_BY(mutex)
  bool ended = false;            // GUARDED_BY(mutex); no posts once set
  // Readable while `messages` is non-empty; -1 when eventfd failed (then
  // only Wait and Peek serve).
  const int event_fd;
  ThreadId previous_current = 0;  // the owner thread's id before this queue
};

namespace {

// Ids start well above 0 (which means "no queue") and are never reused.
std::atomic<ThreadId> g_next_id{1000};

thread_local ThreadId t_current = 0;

struct Registry {
  std::mutex mutex;
  std::unordered_map<ThreadId, std::shared_ptr<ThreadQueue::Impl>>
      queues;  // GUARDED_BY(mutex)
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // outlives every thread's queue
  return *registry;
}

std::shared_ptr<ThreadQueue::Impl> FindQueue(ThreadId id) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.queues.find(id);
  return it == r.queues.end() ? nullptr : it->second;
}

}  // namespace

ThreadQueue::ThreadQueue()
    : id_(g_next_id.fetch_add(1)), impl_(std::make_shared<Impl>()) {
  impl_->previous_current = t_current;
  t_current = id_;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.queues.emplace(id_, impl_);
}

ThreadQueue::~ThreadQueue() {
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.queues.erase(id_);
  }
  if (t_current == id_) t_current = impl_->previous_current;
  // A poster that found the queue before it was unregistered sees `ended`
  // under the lock and fails, keeping its record.
  std::deque<Message> left;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->ended = true;
    left.swap(impl_->messages);
    impl_->Drain();
  }
  for (Message& m : left) m.Free();
}

bool ThreadQueue::Peek(Message* out) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->messages.empty()) return false;
  *out = impl_->messages.front();
  impl_->messages.pop_front();
  if (impl_->messages.empty()) impl_->Drain();
  return true;
}

WaitResult ThreadQueue::Wait(int timeout_ms) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  auto ready = [this] { return !impl_->messages.empty(); };
  if (timeout_ms < 0) {
    impl_->cv.wait(lock, ready);
    return WaitResult::kMessage;
  }
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)
             ? WaitResult::kMessage
             : WaitResult::kTimeout;
}

int ThreadQueue::fd() const { return impl_->event_fd; }

bool PostThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam,
                       intptr_t lParam, RecordDeleter deleter) {
  std::shared_ptr<ThreadQueue::Impl> queue = FindQueue(thread);
  if (!queue) return false;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->ended) return false;
    Message m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.deleter = deleter;
    queue->messages.push_back(m);
    queue->Signal();
  }
  queue->cv.notify_all();
  return true;
}

ThreadId CurrentThreadQueueId() { return t_current; }

}  // namespace vespar
