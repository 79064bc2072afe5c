// Stopping: cancel and resume, quitting in every phase of a worker, time-outs,
// paced restarts, and a stop that lands on the last block.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "src/engine/engine_test_fixture.h"
#include "tests/support/fault.h"

namespace vespar::engine_testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;
using testing::AddressMode;
using testing::Fault;
using testing::FaultMethod;

class StopTest : public EngineTest {
 protected:
  // Quits the manager and returns how long it took. A quit that hangs ends
  // the test program instead of hanging the suite.
  milliseconds TimedQuit() {
    auto begin = steady_clock::now();
    std::promise<void> done;
    std::thread quitter([&] {
      manager_->Quit();
      done.set_value();
    });
    if (done.get_future().wait_for(seconds(90)) != std::future_status::ready) {
      ADD_FAILURE() << "Quit did not return";
      std::abort();
    }
    quitter.join();
    return std::chrono::duration_cast<milliseconds>(steady_clock::now() - begin);
  }
};

TEST_F(StopTest, CancelAndResumeContinueWhereThePartStopped) {
  const std::string content = TestBytes(400000, 11);
  server_->AddFile("/a.bin", content);
  server_->SetRateLimit(100000);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  int progress = Wait(DLGN_PROGRESS);
  ASSERT_GE(progress, 0);
  Post(MGRM_CANCEL_ALL);
  int cancelled = Wait(DLGN_CANCELLED, progress);
  ASSERT_GE(cancelled, 0);
  CPartWorker* part = PartOf(sink_->at(progress));
  EXPECT_EQ(part->state.load(), PART_FAILED);
  EXPECT_EQ(manager_->ActiveWorkerCount(), 0);
  const int64_t stoppedAt = part->currentOffset.load();
  EXPECT_GT(stoppedAt, 0);
  EXPECT_LT(stoppedAt, 400000);
  EXPECT_EQ(manager_->totalWritten.load(), stoppedAt);

  server_->SetRateLimit(0);
  Post(MGRM_RESUME);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, cancelled), 0);
  EXPECT_EQ(GetRanges("/a.bin").back(), "bytes=" + std::to_string(stoppedAt) + "-399999");
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  EXPECT_EQ(sink_->Count(DLGN_IDLE), 0u);
}

TEST_F(StopTest, QuitDuringAStallReturnsAtOnce) {
  static const struct {
    const char* name;
    bool beforeHead;
  } kCases[] = {{"stall after 1000 body bytes", false}, {"stall before the head", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    timings_.headMs = 60000;
    timings_.receiveMs = 60000;
    server_->AddFile("/a.bin", TestBytes(50000));
    Fault fault;
    fault.method = FaultMethod::kGet;
    fault.stall_before_head = c.beforeHead;
    fault.cut_after = c.beforeHead ? -1 : 1000;
    fault.ending = testing::Ending::kStall;
    server_->SetFault("/a.bin", fault);
    StartManager();
    ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
    Post(MGRM_START);
    if (c.beforeHead) {
      ASSERT_TRUE(server_->WaitForRequests(2));
    } else {
      ASSERT_GE(Wait(DLGN_PROGRESS), 0);
    }
    // Far below the 60-second limits the worker waits with.
    EXPECT_LT(TimedQuit().count(), 10000);
    CPartWorker* part = PartOf(Messages(DLGN_PART_STARTED)[0]);
    EXPECT_EQ(part->state.load(), PART_STOPPED);
    EXPECT_EQ(store_->writes(), 1);
  }
}

TEST_F(StopTest, QuitWhileConnectingReturnsAtOnce) {
  // A listener on 127.0.0.2 at the test server's port whose one-place accept
  // queue is taken: further connects get no answer and wait.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server_->port());
  address.sin_addr.s_addr = inet_addr("127.0.0.2");
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  StaticResolver probeAnswer, transferAnswer;
  probeAnswer.Add("slow.test", {inet_addr("127.0.0.1")});
  transferAnswer.Add("slow.test", {inet_addr("127.0.0.2")});
  SetResolver(&probeAnswer);
  server_->AddFile("/a.bin", TestBytes(1000));
  timings_.connectMs = 60000;
  StartManager();
  const std::string url = "http://slow.test:" + std::to_string(server_->port()) + "/a.bin";
  ASSERT_EQ(ProbeAll({url}), 0);
  SetResolver(&transferAnswer);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_PART_STARTED), 0);
  EXPECT_LT(TimedQuit().count(), 10000);
  EXPECT_EQ(GetRanges("/a.bin").size(), 0u);
  close(filler);
  close(listener);
}

TEST_F(StopTest, CancelWhileReadingTheHeadIsOneCancelReport) {
  server_->AddFile("/a.bin", TestBytes(5000, 2));
  Fault fault;
  fault.method = FaultMethod::kGet;
  fault.times = 1;
  fault.stall_before_head = true;
  server_->SetFault("/a.bin", fault);
  timings_.headMs = 60000;
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  ASSERT_TRUE(server_->WaitForRequests(2));
  Post(MGRM_CANCEL_ALL);
  int cancelled = Wait(DLGN_CANCELLED);
  ASSERT_GE(cancelled, 0);
  EXPECT_EQ(manager_->ActiveWorkerCount(), 0);
  CPartWorker* part = PartOf(Messages(DLGN_PART_STARTED)[0]);
  EXPECT_EQ(part->state.load(), PART_FAILED);
  Post(MGRM_RESUME);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, cancelled), 0);
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), TestBytes(5000, 2));
  // One report per run: no idle report from a second end of the same run.
  EXPECT_EQ(sink_->Count(DLGN_IDLE), 0u);
}

TEST_F(StopTest, QuitRightAfterCancelStillEnds) {
  server_->AddFile("/a.bin", TestBytes(300000));
  server_->SetRateLimit(50000);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_PROGRESS), 0);
  Post(MGRM_CANCEL_ALL);
  EXPECT_LT(TimedQuit().count(), 10000);
}

TEST_F(StopTest, FullHeadBufferWithoutItsEndIsAFailure) {
  server_->AddFile("/a.bin", TestBytes(1000));
  Fault fault;
  fault.method = FaultMethod::kGet;
  fault.raw_response = "HTTP/1.1 206 Partial Content\r\nX-Pad: " + std::string(41000, 'a');
  fault.ending = testing::Ending::kStall;
  server_->SetFault("/a.bin", fault);
  timings_.headMs = 60000;
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  int error = Wait(DLGN_ERROR);
  ASSERT_GE(error, 0);
  EXPECT_EQ(sink_->at(error).lParam, kErrorRangeRefused);
  EXPECT_EQ(manager_->totalWritten.load(), 0);
}

TEST_F(StopTest, HeadThatNeverComesTimesOut) {
  server_->AddFile("/a.bin", TestBytes(3000, 8));
  Fault fault;
  fault.method = FaultMethod::kGet;
  fault.times = 1;
  fault.stall_before_head = true;
  server_->SetFault("/a.bin", fault);
  timings_.headMs = 300;
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  int timeout = Wait(DLGN_PART_TIMEOUT);
  ASSERT_GE(timeout, 0);
  // It was the only part: everything has stopped and the state is saved.
  int idle = Wait(DLGN_IDLE, timeout);
  ASSERT_GE(idle, 0);
  EXPECT_EQ(store_->writes(), 1);
  Post(MGRM_RESUME);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, idle), 0);
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), TestBytes(3000, 8));
}

TEST_F(StopTest, RestartsAfterFailuresArePacedAndGrow) {
  server_->AddFile("/a.bin", TestBytes(2000, 6));
  timings_.retryFirstMs = 100;
  timings_.retryMaxMs = 400;
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  ASSERT_TRUE(server_->SetAddressMode(0, AddressMode::kRefuse));
  size_t from = sink_->size();
  Post(MGRM_START);
  // The first start and four restarts, each refused at once.
  std::vector<int> starts;
  int index = static_cast<int>(from);
  for (int i = 0; i < 5; ++i) {
    index = Wait(DLGN_PART_STARTED, index);
    ASSERT_GE(index, 0);
    starts.push_back(index++);
  }
  ASSERT_TRUE(server_->SetAddressMode(0, AddressMode::kServe));
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, from), 0);
  const int kPauses[] = {100, 200, 400, 400};
  for (size_t i = 1; i < starts.size(); ++i) {
    SCOPED_TRACE(i);
    auto gap = std::chrono::duration_cast<milliseconds>(sink_->TimeOf(starts[i]) -
                                                       sink_->TimeOf(starts[i - 1]));
    EXPECT_GE(gap.count(), kPauses[i - 1]);
  }
  // A waiting restart counts as running: nothing reported the download idle.
  EXPECT_EQ(sink_->Count(DLGN_IDLE), 0u);
  EXPECT_EQ(PartOf(sink_->at(starts[0]))->retryDelayMs, 0);  // bytes flowed again
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), TestBytes(2000, 6));
}

TEST_F(StopTest, WaitingRestartIsAnsweredByCancelAndDroppedByQuit) {
  server_->AddFile("/a.bin", TestBytes(2000));
  timings_.retryFirstMs = 3600 * 1000;
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  ASSERT_TRUE(server_->SetAddressMode(0, AddressMode::kRefuse));
  Post(MGRM_START);
  // The failed run has ended (its end is checkpointed after the failure
  // report that scheduled the restart).
  ASSERT_TRUE(store_->WaitForPartEnds(1));
  CPartWorker* part = PartOf(Messages(DLGN_PART_STARTED)[0]);
  EXPECT_EQ(manager_->ActiveWorkerCount(), 1);
  EXPECT_EQ(part->state.load(), PART_WAITING);
  Post(MGRM_CANCEL_ALL);
  ASSERT_GE(Wait(DLGN_CANCELLED), 0);
  EXPECT_EQ(manager_->ActiveWorkerCount(), 0);
  EXPECT_EQ(part->state.load(), PART_FAILED);

  Post(MGRM_RESUME);
  ASSERT_TRUE(store_->WaitForPartEnds(3));  // cancelled, then failed again
  EXPECT_EQ(manager_->ActiveWorkerCount(), 1);
  EXPECT_LT(TimedQuit().count(), 10000);
  EXPECT_EQ(part->state.load(), PART_STOPPED);
}

// Sets every part's stop flag while the last block of the file is written,
// as a quit arriving at that moment does.
class StopOnLastWrite : public PosixFileSystem {
 public:
  StopOnLastWrite(CDownloadManager* manager, int64_t size) : manager_(manager), size_(size) {}
  int WriteAt(int fd, const void* data, size_t size, int64_t offset, size_t* written) override {
    int result = PosixFileSystem::WriteAt(fd, data, size, offset, written);
    if (offset + static_cast<int64_t>(size) == size_) {
      for (auto& part : manager_->workers) part->stopRequested = true;  // manager thread
    }
    return result;
  }

 private:
  CDownloadManager* manager_;
  int64_t size_;
};

TEST_F(StopTest, StopLandingOnTheLastBlockLeavesTheFileComplete) {
  const std::string content = TestBytes(40000, 12);
  server_->AddFile("/a.bin", content);
  StopOnLastWrite disk(manager_.get(), 40000);
  SetFileSystem(&disk);
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  CPartWorker* part = PartOf(Messages(DLGN_PART_STARTED)[0]);
  EXPECT_EQ(part->state.load(), PART_COMPLETE);
  EXPECT_EQ(sink_->Count(DLGN_IDLE), 0u);
}

}  // namespace
}  // namespace vespar::engine_testing
