#include "src/engine/range_worker.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string_view>

#include "src/engine/download_manager.h"
#include "src/engine/messages.h"
#include "src/engine/range_response.h"
#include "src/engine/records.h"
#include "src/log/log.h"
#include "src/net/connection.h"
#include "src/net/head_probe.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "src/platform/thread_start.h"

namespace vespar {
namespace {

constexpr size_t kHeadBufferSize = 40960;
// Every block costs a round trip of thread wake-ups (worker, manager, front
// end); at 16 KiB they took about half the CPU of a fast transfer. A receive
// rarely fills 256 KiB except when the data comes faster than it is written.
constexpr size_t kBlockSize = 256 * 1024;

enum class Interrupt { kNone, kCancel, kStop };

class RangeWorker {
 public:
  RangeWorker(CPartWorker& part, ThreadQueue& queue)
      : part_(part),
        queue_(queue),
        manager_(part.manager->threadId()),
        timings_(part.manager->timings()) {}

  int Run();
  // True when the run ended because the manager asked every part to stop.
  bool stopped() const { return stopped_; }

 private:
  uintptr_t self() const { return reinterpret_cast<uintptr_t>(&part_); }
  void Report(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    PostThreadMessage(manager_, msg, wParam, lParam);
  }
  int Fail(int16_t state, int code) {
    part_.state = state;
    part_.ClosePartFile();
    CloseSocket(part_);
    Report(MGRM_PART_FAILED, self(), code);
    return code;
  }
  int SocketError(int16_t state, int error, int result) {
    part_.state = state;
    part_.ClosePartFile();
    CloseSocket(part_);
    Report(MGRM_PART_SOCKET_ERROR, self(), error);
    return result;
  }
  int TimedOut() {
    part_.state = PART_TIMEOUT;
    part_.ClosePartFile();
    CloseSocket(part_);
    Report(MGRM_PART_TIMEOUT, 0, static_cast<intptr_t>(self()));
    return 0;
  }

  Interrupt TakeMessages();
  int EndInterrupted(Interrupt why);
  int FinishEmptyRange();
  int Connect();
  int ReadHead();
  bool HandOver(const char* data, size_t n);
  int ReceiveLoop();

  CPartWorker& part_;
  ThreadQueue& queue_;
  const ThreadId manager_;
  const EngineTimings& timings_;
  std::unique_ptr<char[]> head_;
  size_t headLength_ = 0;
  size_t received_ = 0;
  bool ended_ = false;    // ended by a cancel or a stop, already reported
  bool stopped_ = false;
};

Interrupt RangeWorker::TakeMessages() {
  Interrupt result = Interrupt::kNone;
  Message m;
  while (queue_.Peek(&m)) {
    if (m.message == WKRM_STOP) result = Interrupt::kCancel;
    m.Free();
  }
  if (result == Interrupt::kNone && part_.stopRequested.load()) result = Interrupt::kStop;
  return result;
}

int RangeWorker::EndInterrupted(Interrupt why) {
  ended_ = true;
  part_.ClosePartFile();
  CloseSocket(part_);
  if (why == Interrupt::kCancel) {
    part_.state = PART_FAILED;
    Report(MGRM_PART_CANCELLED, 0, static_cast<intptr_t>(self()));
  } else {
    part_.state = PART_STOPPED;
    stopped_ = true;
  }
  return 0;
}

// An empty file, or a range with every byte on disk: nothing is requested,
// but the part file must exist so the file can take its name.
int RangeWorker::FinishEmptyRange() {
  if (int error = part_.OpenPartFile()) {
    LogPrintf("cannot open %s.tmp: %s", ToUtf8(part_.localPath).c_str(), strerror(error));
    part_.writeError = error;
    return Fail(PART_DISCONNECTED, kErrorOpenPartFile);
  }
  part_.ClosePartFile();
  part_.state = PART_TRANSFERRING;
  Report(MGRM_PART_DONE, self(), 0);
  return 0;
}

int RangeWorker::Run() {
  part_.position = part_.currentOffset.load();
  if (part_.currentOffset > part_.endOffset) return FinishEmptyRange();
  if (Interrupt why = TakeMessages(); why != Interrupt::kNone) return EndInterrupted(why);
  if (OpenSocket(part_) != 0) return Fail(PART_DISCONNECTED, kErrorOpenSocket);
  if (int result = Connect()) return result;
  if (ended_) return 0;  // cancelled or stopped while connecting

  std::string request = BuildRangeRequest(part_.connectUrl, part_.currentOffset,
                                          part_.endOffset);
  if (int error = SendAll(part_, request)) return SocketError(PART_DISCONNECTED, error, 6);

  int result = ReadHead();
  if (result != 0 || headLength_ == 0) return result;

  int code = CheckRangeResponse(
      ParseRangeResponseHead(std::string_view(head_.get(), headLength_)),
      part_.currentOffset, part_.endOffset, part_.fileSize);
  if (code != 0) {
    std::string_view head(head_.get(), headLength_);
    LogPrintf("range %lld-%lld of %s refused (%d): %.*s",
              static_cast<long long>(part_.currentOffset.load()),
              static_cast<long long>(part_.endOffset), ToUtf8(part_.connectUrl).c_str(),
              code, static_cast<int>(std::min<size_t>(head.find('\r'), 200)), head.data());
    return Fail(PART_DISCONNECTED, code);
  }
  if (int error = part_.OpenPartFile()) {
    LogPrintf("cannot open %s.tmp: %s", ToUtf8(part_.localPath).c_str(), strerror(error));
    part_.writeError = error;
    return Fail(PART_DISCONNECTED, kErrorOpenPartFile);
  }
  part_.state = PART_TRANSFERRING;
  if (received_ > headLength_ &&
      !HandOver(head_.get() + headLength_, received_ - headLength_))
    return Fail(PART_DISCONNECTED, kErrorWriteFailed);
  head_.reset();
  return ReceiveLoop();
}

int RangeWorker::Connect() {
  std::u16string host = GetUrlHost(part_.connectUrl);
  uint16_t port = GetUrlPort(host);
  uint32_t address = 0;
  if (!ResolveHost(host, &address, ResolveLog::kLogFailure)) {
    part_.status = 1;
    return Fail(PART_DISCONNECTED, kErrorResolve);
  }
  while (true) {
    int r = ConnectTimeout(part_, port, address, timings_.connectMs, queue_.fd());
    if (r == 0) return 0;
    if (r != kConnectInterrupted) return Fail(PART_DISCONNECTED, kErrorConnect);
    if (Interrupt why = TakeMessages(); why != Interrupt::kNone) {
      EndInterrupted(why);
      return 0;
    }
    // Woken by a message that asks nothing: connect again from the start.
    if (OpenSocket(part_) != 0) return Fail(PART_DISCONNECTED, kErrorOpenSocket);
  }
}

int RangeWorker::ReadHead() {
  head_.reset(new (std::nothrow) char[kHeadBufferSize]);
  if (!head_) return Fail(PART_STOPPED, kErrorNoMemory);
  received_ = 0;
  while (true) {
    if (received_ == kHeadBufferSize) {
      LogPrintf("no end of the response head in %zu bytes from %s", kHeadBufferSize,
                ToUtf8(part_.connectUrl).c_str());
      return Fail(PART_DISCONNECTED, kErrorRangeRefused);
    }
    int n = ReceiveSome(part_, head_.get() + received_, kHeadBufferSize - received_,
                        timings_.headMs, queue_.fd());
    if (n == kReceiveInterrupted) {
      if (Interrupt why = TakeMessages(); why != Interrupt::kNone) return EndInterrupted(why);
      continue;
    }
    if (n == kReceiveTimedOut) return TimedOut();
    if (n < 0) return SocketError(PART_STOPPED, part_.lastError, 5);
    if (n == 0) {  // closed before the head was complete: no message of its own
      part_.state = PART_STOPPED;
      CloseSocket(part_);
      return kErrorServerClosed;
    }
    received_ += static_cast<size_t>(n);
    size_t end = FindHeadEnd(std::string_view(head_.get(), received_));
    if (end != std::string_view::npos) {
      headLength_ = end + 4;
      return 0;
    }
  }
}

bool RangeWorker::HandOver(const char* data, size_t n) {
  // Never a byte past the range, whatever the server still sends.
  int64_t remaining = part_.endOffset + 1 - part_.position.load();
  if (remaining <= 0) return true;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), remaining));
  auto request = std::make_unique<WriteRequest>();
  request->part = &part_;
  request->length = static_cast<uint32_t>(n);
  request->data = data;
  part_.position += static_cast<int64_t>(n);
  part_.writeDone->Reset();
  if (!PostThreadRecord(manager_, MGRM_WRITE_DATA, 0, request)) {
    part_.writeError = ESHUTDOWN;
    return false;
  }
  part_.writeDone->Wait();
  return part_.writeError.load() == 0;
}

int RangeWorker::ReceiveLoop() {
  auto block = std::make_unique<char[]>(kBlockSize);
  while (true) {
    // Completion first: a part whose last block is written is complete,
    // even when a stop arrives at the same moment.
    if (part_.position.load() == part_.endOffset + 1) {
      CloseSocket(part_);
      Report(MGRM_PART_DONE, self(), 0);
      return 0;
    }
    if (Interrupt why = TakeMessages(); why != Interrupt::kNone) return EndInterrupted(why);
    int n = ReceiveSome(part_, block.get(), kBlockSize, timings_.receiveMs, queue_.fd());
    if (n == kReceiveInterrupted) continue;
    if (n == kReceiveTimedOut) return TimedOut();
    if (n < 0) return SocketError(PART_DISCONNECTED, part_.lastError, 5);
    if (n == 0) {
      part_.state = PART_STOPPED;
      part_.ClosePartFile();
      CloseSocket(part_);
      Report(MGRM_PART_FAILED, self(), kErrorServerClosed);
      return kErrorServerClosed;
    }
    if (!HandOver(block.get(), static_cast<size_t>(n)))
      return Fail(PART_DISCONNECTED, kErrorWriteFailed);
  }
}

}  // namespace

std::string BuildRangeRequest(std::u16string_view url, int64_t first, int64_t last) {
  return "GET " + UrlEncode(ToWire(url)) + " HTTP/1.0\r\nUser-Agent:\r\nRange: bytes=" +
         std::to_string(first) + "-" + std::to_string(last) + "\r\n\r\n";
}

void RangeWorkerMain(CPartWorker* part, std::shared_ptr<ManualResetEvent> started) {
  RunThreadStartHook();
  ThreadQueue queue;
  part->workerThreadId = queue.id();
  const ThreadId manager = part->manager->threadId();
  started->Set();
  started.reset();
  RangeWorker worker(*part, queue);
  int result = worker.Run();
  // The ends with a report of their own (complete, time-out, cancel) get no
  // second one.
  if (result != 0 || worker.stopped())
    PostThreadMessage(manager, MGRM_WORKER_EXITED, 0, reinterpret_cast<intptr_t>(part));
}

}  // namespace vespar
