#pragma once

// Per-thread message queues. A thread that wants to receive messages owns a
// ThreadQueue; other threads post to it by its id. Ids are never reused, so a
// post to a thread that has ended fails cleanly instead of reaching a stranger.

#include <cstdint>
#include <memory>

namespace vespar {

using ThreadId = uint32_t;

// Frees the record a message owns. Set by the poster of a record; run by the
// receiver (Message::Free) or by a queue destroyed with the message still in it.
using RecordDeleter = void (*)(intptr_t lParam);

struct Message {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  RecordDeleter deleter = nullptr;

  // Frees the record carried in lParam, if the poster gave it one.
  void Free() {
    if (deleter) deleter(lParam);
    deleter = nullptr;
  }
};

template <typename T>
void DeleteRecord(intptr_t lParam) {
  delete reinterpret_cast<T*>(lParam);
}

// Takes ownership of the record a message carries. The message no longer frees it.
template <typename T>
std::unique_ptr<T> TakeRecord(Message& m) {
  m.deleter = nullptr;
  return std::unique_ptr<T>(reinterpret_cast<T*>(m.lParam));
}

enum class WaitResult { kMessage, kTimeout };

// The queue of the thread that constructs it. Construct and destroy it on the
// same thread; Peek/Wait/fd belong to that thread too. Destroying the queue
// unregisters its id (later posts fail) and frees every record still queued.
class ThreadQueue {
 public:
  ThreadQueue();
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  ThreadId id() const { return id_; }

  // Removes the oldest message into *out; false when the queue is empty.
  bool Peek(Message* out);
  // Waits until a message is queued or timeout_ms passes (-1: no limit).
  // Leaves the message in the queue.
  WaitResult Wait(int timeout_ms);
  // Readable while the queue holds a message (an eventfd): lets a thread wait
  // in one poll() for its socket and its messages.
  int fd() const;

  struct Impl;

 private:
  ThreadId id_;
  std::shared_ptr<Impl> impl_;
};

// Posts to the queue with the given id. Returns false when no such queue
// exists (never created, or its thread has ended); the record then stays the
// caller's. On success the queue owns the record until it is taken.
bool PostThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam,
                       intptr_t lParam, RecordDeleter deleter = nullptr);

// Posts a heap record: on success the pointer is released into the message;
// on failure `record` still owns it.
template <typename T>
bool PostThreadRecord(ThreadId thread, uint32_t message, uintptr_t wParam,
                      std::unique_ptr<T>& record) {
  if (!PostThreadMessage(thread, message, wParam,
                         reinterpret_cast<intptr_t>(record.get()),
                         &DeleteRecord<T>))
    return false;
  record.release();
  return true;
}

// Id of the queue the calling thread owns, or 0 when it owns none.
ThreadId CurrentThreadQueueId();

}  // namespace vespar
