#pragma once

// The records the engine is built from: one part (byte range) of one file, its
// connection, and its worker thread.
//
// Threads: the manager thread creates, restarts and destroys records and is
// the only writer of currentOffset; a range worker changes only its own
// record's position, state and connection fields. Fields read across threads
// (offsets the window shows, state, stopRequested) are atomics.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "src/net/connection.h"
#include "src/platform/event.h"
#include "src/platform/message_queue.h"

namespace vespar {

enum PartState : int16_t {
  PART_WAITING = 0,
  PART_TRANSFERRING = 1,
  PART_COMPLETE = 2,
  PART_TIMEOUT = 3,
  PART_STOPPED = 4,
  PART_CONNECTING = 5,
  PART_CONNECT_FAILED = 6,
  PART_DISCONNECTED = 7,
  PART_FAILED = 8,
};

// States a resume or a restart picks up again.
inline bool IsRestartable(int16_t state) {
  return state == PART_TIMEOUT || state == PART_STOPPED ||
         state == PART_DISCONNECTED || state == PART_FAILED;
}

class CDownloadManager;

struct CPartRecord {
  std::atomic<int64_t> position{0};  // receive cursor; written by the worker
  int fileHandle = -1;               // the part's own descriptor on the part file
  int16_t downType = 0;              // 0: fetched over HTTP; else a "peer" part, never run
  std::atomic<int16_t> state{PART_WAITING};
  int32_t partIndex = -1;
  int64_t startOffset = 0;
  int64_t endOffset = 0;
  std::atomic<int64_t> currentOffset{0};  // next byte to write; manager thread only
  // The item URL: the part's identity (resume file CONTENT, restore, local
  // path). Never replaced by rotation.
  std::u16string sourceUrl;
  // The URL the worker connects to: sourceUrl, or the same with the host
  // replaced by one of its addresses after a failure. Shown as the source.
  std::u16string connectUrl;
  std::u16string fileName;
  int64_t fileSize = 0;
  std::u16string localPath;  // without ".tmp"

  CPartRecord() = default;
  // Copies every field but the file descriptor (a copy never owns one).
  CPartRecord(const CPartRecord& other) { *this = other; }
  CPartRecord& operator=(const CPartRecord& other);
  virtual ~CPartRecord();

  // Opens localPath + ".tmp" for writing through the file seam, created when
  // missing and kept when present. 0, or the errno of the failure.
  int OpenPartFile();
  void ClosePartFile();
};

struct CPartConnection : CPartRecord, Connection {};

struct CPartWorker : CPartConnection {
  std::jthread workerThread;        // joined before a restart or destruction
  std::atomic<ThreadId> workerThreadId{0};
  std::atomic<bool> stopRequested{false};
  std::unique_ptr<ManualResetEvent> writeDone;
  // Set by the manager before it signals writeDone: 0 when the block handed
  // over reached the file, else the errno of the failed write; set by the
  // worker when the part file cannot be opened. A front end reads it to name
  // the cause of errors 22 and 9.
  std::atomic<int> writeError{0};
  CDownloadManager* manager = nullptr;
  // Delay before the next restart after a failure (0: none yet). Grows while
  // restarts fail and is cleared when bytes of this part are written.
  // Manager thread only.
  int retryDelayMs = 0;

  ~CPartWorker() override;
};

}  // namespace vespar
