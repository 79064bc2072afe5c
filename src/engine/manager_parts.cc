// Reports of the range workers; manager thread only.

#include <algorithm>
#include <cstring>

#include "src/engine/download_manager.h"
#include "src/engine/messages.h"
#include "src/engine/records.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {
namespace {

// Written bytes are sent on to the disk in chunks of this size while a part
// runs, so the flush before its offsets are recorded finds little left.
constexpr int64_t kWriteBackChunk = 8 << 20;

// Starts the write-back of [from, to) of the part file.
void StartWriteBack(const CPartWorker& part, int64_t from, int64_t to) {
  if (part.fileHandle < 0 || to <= from) return;
  CurrentFileSystem().StartWriteBack(part.fileHandle, from, to - from);
}

}  // namespace

void CDownloadManager::OnPartDone(CPartWorker* part) {
  int32_t left = CountWorkerEnd();
  part->state = PART_COMPLETE;
  FileDivision division = CurrentDivision();
  Notify(DLGN_PART_COMPLETE, 0, reinterpret_cast<intptr_t>(part));
  const int64_t end = part->currentOffset.load();
  StartWriteBack(*part, std::max(part->startOffset, end / kWriteBackChunk * kWriteBackChunk),
                 end);
  part->ClosePartFile();
  // The worker returns right after this report: join it now, so a finished
  // thread does not keep its stack and descriptors until the manager ends.
  if (part->workerThread.joinable()) part->workerThread.join();
  store_->Checkpoint(*this, CheckpointReason::kPartEnded);
  if (CPartWorker* stopped = FirstRestartable()) {
    RestartPart(stopped);
  } else if (partsStarted >= division.count) {
    if (left == 0 && !quitting) PostSelf(MGRM_ITEM_DONE);
  } else if (part->downType == 0) {
    int64_t k = partsStarted;
    StartPart(itemUrl, division.StartOf(k), division.EndOf(k), division.StartOf(k));
  }
}

void CDownloadManager::OnWriteData(Message& m) {
  std::unique_ptr<WriteRequest> request = TakeRecord<WriteRequest>(m);
  if (!request || !request->part) return;
  CPartWorker* part = request->part;
  size_t written = 0;
  int error = EBADF;
  if (part->fileHandle >= 0) {
    error = CurrentFileSystem().WriteAt(part->fileHandle, request->data,
                                        request->length, part->currentOffset, &written);
  }
  if (written > 0) {
    // Only what reached the file counts, so the offsets stay true to the disk.
    fileWritten += static_cast<int64_t>(written);
    totalWritten += static_cast<int64_t>(written);
    const int64_t before = part->currentOffset.load();
    const int64_t after = before + static_cast<int64_t>(written);
    part->currentOffset = after;
    if (after / kWriteBackChunk != before / kWriteBackChunk) {
      const int64_t chunkEnd = after / kWriteBackChunk * kWriteBackChunk;
      StartWriteBack(*part, std::max(part->startOffset, chunkEnd - kWriteBackChunk), chunkEnd);
    }
    part->retryDelayMs = 0;  // bytes flow again
    Notify(DLGN_PROGRESS, reinterpret_cast<uintptr_t>(&totalWritten),
           reinterpret_cast<intptr_t>(part));
  }
  if (error != 0) {
    LogPrintf("write of %u bytes to %s.tmp at %lld failed: %s", request->length,
              ToUtf8(part->localPath).c_str(),
              static_cast<long long>(part->currentOffset.load()), strerror(error));
  }
  part->writeError = error;
  part->writeDone->Set();
  if (written > 0) store_->Checkpoint(*this, CheckpointReason::kProgress);
}

void CDownloadManager::OnPartTimeout(CPartWorker* part) {
  int32_t left = CountWorkerEnd();
  part->state = PART_TIMEOUT;
  Notify(DLGN_PART_TIMEOUT, 0, reinterpret_cast<intptr_t>(part));
  store_->Checkpoint(*this, CheckpointReason::kPartEnded);
  if (left == 0) {
    if (!quitting) {
      store_->WriteResumeFile(*this);
      Notify(DLGN_IDLE);
    }
    return;
  }
  ScheduleRestart(part);
}

void CDownloadManager::OnPartFailed(CPartWorker* part, int code) {
  part->ClosePartFile();
  if (code == kErrorConnect || code == kErrorServerClosed) {
    // Nothing to show: the first stopped part tries again, on the next
    // address of its host, after a pause.
    if (CPartWorker* stopped = FirstRestartable()) ScheduleRestart(stopped);
    return;
  }
  Notify(DLGN_ERROR, reinterpret_cast<uintptr_t>(part), code);
}

void CDownloadManager::OnPartSocketError(CPartWorker* part, int error) {
  part->ClosePartFile();
  Notify(DLGN_SOCKET_ERROR, reinterpret_cast<uintptr_t>(part), error);
}

}  // namespace vespar
