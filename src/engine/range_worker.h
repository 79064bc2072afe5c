#pragma once

// The range worker: the thread that fetches one part. It connects, sends
// "GET <url> HTTP/1.0" with a Range header for the part's remaining bytes,
// checks that the answer is exactly that range, and hands every block to the
// manager, waiting until it is written. It waits in one poll() for its
// socket, its own queue (WKRM_STOP, WKRM_WAKE) and its time limit, so a
// cancel or a quit reaches it in any phase. Every run ends with exactly one
// report to the manager.

#include <cstdint>
#include <memory>
#include <string>

namespace vespar {

struct CPartWorker;
class ManualResetEvent;

// Thread entry. Creates the thread's queue, publishes its id in
// part->workerThreadId, signals `started` and runs the part. The event is
// shared: a setter may still be inside Set() when the waiter returns.
void RangeWorkerMain(CPartWorker* part, std::shared_ptr<ManualResetEvent> started);

// The request bytes for bytes first..last of `url` (wire code page,
// percent-encoded absolute URL, an empty User-Agent value).
std::string BuildRangeRequest(std::u16string_view url, int64_t first, int64_t last);

}  // namespace vespar
