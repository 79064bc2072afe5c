#include "src/platform/message_queue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "src/platform/event.h"

namespace vespar {
namespace {

constexpr int kGenerousMs = 10000;

// A record that counts its deletions.
struct CountedRecord {
  static std::atomic<int> deleted;
  explicit CountedRecord(int v = 0) : value(v) {}
  ~CountedRecord() { deleted.fetch_add(1); }
  int value;
};
std::atomic<int> CountedRecord::deleted{0};

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// Runs a queue on its own thread until told to end; reports its id.
class QueueThread {
 public:
  QueueThread()
      : thread_([this] {
          ThreadQueue queue;
          id_.set_value(queue.id());
          end_.Wait();
        }) {}
  ~QueueThread() { End(); }
  ThreadId id() { return id_future_.get(); }
  void End() {
    end_.Set();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::promise<ThreadId> id_;
  std::shared_future<ThreadId> id_future_ = id_.get_future().share();
  ManualResetEvent end_;
  std::thread thread_;
};

TEST(MessageQueueTest, MessagesFromSeveralThreadsArriveInPostingOrder) {
  constexpr int kPosters = 4;
  constexpr int kPerPoster = 2000;
  ThreadQueue queue;
  ThreadId id = queue.id();
  std::vector<std::jthread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([id, p] {
      for (int i = 0; i < kPerPoster; ++i)
        ASSERT_TRUE(PostThreadMessage(id, 100 + p, i, -i));
    });
  }
  std::vector<int> next(kPosters, 0);
  int received = 0;
  while (received < kPosters * kPerPoster) {
    ASSERT_EQ(WaitResult::kMessage, queue.Wait(kGenerousMs));
    Message m;
    while (queue.Peek(&m)) {
      int p = static_cast<int>(m.message) - 100;
      ASSERT_GE(p, 0);
      ASSERT_LT(p, kPosters);
      ASSERT_EQ(static_cast<uintptr_t>(next[p]), m.wParam);
      ASSERT_EQ(-static_cast<intptr_t>(next[p]), m.lParam);
      ++next[p];
      ++received;
    }
  }
  Message m;
  EXPECT_FALSE(queue.Peek(&m));
}

TEST(MessageQueueTest, WaitLeavesTheMessageAndTimesOutWhenEmpty) {
  ThreadQueue queue;
  EXPECT_EQ(WaitResult::kTimeout, queue.Wait(0));
  EXPECT_EQ(WaitResult::kTimeout, queue.Wait(30));
  ASSERT_TRUE(PostThreadMessage(queue.id(), 7, 1, 2));
  EXPECT_EQ(WaitResult::kMessage, queue.Wait(0));
  EXPECT_EQ(WaitResult::kMessage, queue.Wait(-1));
  Message m;
  ASSERT_TRUE(queue.Peek(&m));
  EXPECT_EQ(7u, m.message);
  EXPECT_EQ(WaitResult::kTimeout, queue.Wait(0));
}

TEST(MessageQueueTest, WaitWakesWhenAnotherThreadPosts) {
  ThreadQueue queue;
  ThreadId id = queue.id();
  ManualResetEvent waiting;
  std::jthread poster([&] {
    waiting.Wait(kGenerousMs);
    PostThreadMessage(id, 9, 0, 0);
  });
  waiting.Set();
  EXPECT_EQ(WaitResult::kMessage, queue.Wait(kGenerousMs));
}

TEST(MessageQueueTest, DescriptorIsReadableExactlyWhileMessagesWait) {
  ThreadQueue queue;
  ASSERT_GE(queue.fd(), 0);
  EXPECT_FALSE(Readable(queue.fd()));
  ASSERT_TRUE(PostThreadMessage(queue.id(), 1, 0, 0));
  ASSERT_TRUE(PostThreadMessage(queue.id(), 2, 0, 0));
  EXPECT_TRUE(Readable(queue.fd()));
  Message m;
  ASSERT_TRUE(queue.Peek(&m));
  EXPECT_TRUE(Readable(queue.fd()));  // one still queued
  ASSERT_TRUE(queue.Peek(&m));
  EXPECT_FALSE(Readable(queue.fd()));
  ASSERT_TRUE(PostThreadMessage(queue.id(), 3, 0, 0));
  EXPECT_TRUE(Readable(queue.fd()));
}

TEST(MessageQueueTest, PollWakesOnAPostFromAnotherThread) {
  ThreadQueue queue;
  ThreadId id = queue.id();
  std::jthread poster([id] { PostThreadMessage(id, 5, 0, 0); });
  pollfd p{queue.fd(), POLLIN, 0};
  ASSERT_EQ(1, poll(&p, 1, kGenerousMs));
  Message m;
  ASSERT_TRUE(queue.Peek(&m));
  EXPECT_EQ(5u, m.message);
}

TEST(MessageQueueTest, PostsToUnknownOrEndedQueuesFail) {
  EXPECT_FALSE(PostThreadMessage(0, 1, 0, 0));
  EXPECT_FALSE(PostThreadMessage(999, 1, 0, 0));
  QueueThread worker;
  ThreadId id = worker.id();
  EXPECT_TRUE(PostThreadMessage(id, 1, 0, 0));
  worker.End();
  EXPECT_FALSE(PostThreadMessage(id, 1, 0, 0));
}

TEST(MessageQueueTest, IdsAreNeverReused) {
  ThreadId last = 0;
  for (int i = 0; i < 50; ++i) {
    ThreadQueue queue;
    EXPECT_GE(queue.id(), 1000u);
    EXPECT_GT(queue.id(), last);
    last = queue.id();
  }
}

TEST(MessageQueueTest, CurrentThreadQueueId) {
  EXPECT_EQ(0u, std::async(std::launch::async, CurrentThreadQueueId).get());
  ThreadId outer_id;
  {
    ThreadQueue outer;
    outer_id = outer.id();
    EXPECT_EQ(outer.id(), CurrentThreadQueueId());
    {
      ThreadQueue inner;
      EXPECT_EQ(inner.id(), CurrentThreadQueueId());
    }
    EXPECT_EQ(outer_id, CurrentThreadQueueId());
  }
  EXPECT_EQ(0u, CurrentThreadQueueId());
}

TEST(MessageQueueTest, RecordsTravelAndAreFreedOnce) {
  CountedRecord::deleted = 0;
  ThreadQueue queue;
  auto record = std::make_unique<CountedRecord>(42);
  ASSERT_TRUE(PostThreadRecord(queue.id(), 10, 3, record));
  EXPECT_EQ(nullptr, record);
  Message m;
  ASSERT_TRUE(queue.Peek(&m));
  std::unique_ptr<CountedRecord> taken = TakeRecord<CountedRecord>(m);
  EXPECT_EQ(42, taken->value);
  m.Free();  // taken: nothing left to free
  EXPECT_EQ(0, CountedRecord::deleted);
  taken.reset();
  EXPECT_EQ(1, CountedRecord::deleted);

  // A receiver that does not want the record frees it with Free.
  record = std::make_unique<CountedRecord>(1);
  ASSERT_TRUE(PostThreadRecord(queue.id(), 10, 0, record));
  ASSERT_TRUE(queue.Peek(&m));
  m.Free();
  m.Free();
  EXPECT_EQ(2, CountedRecord::deleted);
}

TEST(MessageQueueTest, FailedPostKeepsTheRecordWithTheCaller) {
  CountedRecord::deleted = 0;
  auto record = std::make_unique<CountedRecord>(7);
  EXPECT_FALSE(PostThreadRecord(12345678u, 10, 0, record));
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(7, record->value);
  EXPECT_EQ(0, CountedRecord::deleted);
}

TEST(MessageQueueTest, DestroyedQueueFreesQueuedRecords) {
  CountedRecord::deleted = 0;
  {
    ThreadQueue queue;
    for (int i = 0; i < 3; ++i) {
      auto record = std::make_unique<CountedRecord>(i);
      ASSERT_TRUE(PostThreadRecord(queue.id(), 10, 0, record));
    }
    ASSERT_TRUE(PostThreadMessage(queue.id(), 11, 0, 0));  // owns nothing
    EXPECT_EQ(0, CountedRecord::deleted);
  }
  EXPECT_EQ(3, CountedRecord::deleted);
}

TEST(MessageQueueTest, QueueEndingWhilePostersRunLosesNoRecord) {
  CountedRecord::deleted = 0;
  std::atomic<int> created{0};
  std::promise<ThreadId> id_promise;
  std::shared_future<ThreadId> id = id_promise.get_future().share();
  std::jthread receiver([&] {
    ThreadQueue queue;
    id_promise.set_value(queue.id());
    // Take a few messages, then end with others still queued or in flight.
    Message m;
    for (int taken = 0; taken < 100;) {
      if (queue.Wait(kGenerousMs) != WaitResult::kMessage) return;
      while (taken < 100 && queue.Peek(&m)) {
        m.Free();
        ++taken;
      }
    }
  });
  std::vector<std::jthread> posters;
  for (int p = 0; p < 3; ++p) {
    posters.emplace_back([&] {
      for (;;) {
        auto record = std::make_unique<CountedRecord>();
        created.fetch_add(1);
        if (!PostThreadRecord(id.get(), 10, 0, record)) return;
      }
    });
  }
  posters.clear();  // joins: every poster has seen the queue end
  receiver.join();
  EXPECT_EQ(created.load(), CountedRecord::deleted.load());
  EXPECT_GT(created.load(), 100);
}

TEST(ManualResetEventTest, StaysSetAndWakesEveryWaiter) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
  EXPECT_FALSE(event.Wait(20));
  std::atomic<int> woken{0};
  {
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 4; ++i) {
      waiters.emplace_back([&] {
        if (event.Wait(kGenerousMs)) woken.fetch_add(1);
      });
    }
    event.Set();
  }
  EXPECT_EQ(4, woken.load());
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(event.Wait(0));  // manual reset: still signalled
  EXPECT_TRUE(event.Wait(-1));
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
  EXPECT_TRUE(ManualResetEvent(true).Wait(0));
}

}  // namespace
}  // namespace vespar
