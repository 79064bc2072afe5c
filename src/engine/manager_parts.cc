// Reports of the range workers; manager thread only.

#include <cstring>

#include "src/engine/download_manager.h"
#include "src/engine/messages.h"
#include "src/engine/records.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {

void CDownloadManager::OnPartDone(CPartWorker* part) {
  int32_t left = CountWorkerEnd();
  part->state = PART_COMPLETE;
  FileDivision division = CurrentDivision();
  Notify(DLGN_PART_COMPLETE, 0, reinterpret_cast<intptr_t>(part));
  part->ClosePartFile();
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
    error = CurrentFileSystem().WriteAt(part->fileHandle, request->data.get(),
                                        request->length, part->currentOffset, &written);
  }
  if (written > 0) {
    // Only what reached the file counts, so the offsets stay true to the disk.
    fileWritten += static_cast<int64_t>(written);
    totalWritten += static_cast<int64_t>(written);
    part->currentOffset += static_cast<int64_t>(written);
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
