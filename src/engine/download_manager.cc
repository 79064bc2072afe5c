#include "src/engine/download_manager.h"

#include <algorithm>
#include <system_error>

#include "resources/resources.h"
#include "src/bootstrap/globals.h"
#include "src/engine/local_path.h"
#include "src/engine/messages.h"
#include "src/engine/records.h"
#include "src/log/log.h"
#include "src/net/connection.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"
#include "src/platform/thread_start.h"
#include "src/platform/paths.h"

namespace vespar {

CDownloadManager::CDownloadManager() = default;

CDownloadManager::~CDownloadManager() {
  Quit();
  workers.clear();  // joins every thread that has not been joined yet
}

bool CDownloadManager::Start(void* app, bool wait) {
  (void)app;  // the front end object; the engine never calls it
  if (thread_.joinable()) return true;
  IgnoreSigpipe();
  if (partsOverride_ > 0) {
    partsAtOnce = static_cast<int16_t>(partsOverride_);
  } else if (uint8_t byte = FrameConfigPartsAtOnce()) {
    partsAtOnce = byte;
  }
  if (extraOverride_ > 0) {
    extraParts = static_cast<int16_t>(extraOverride_);
  } else if (uint8_t byte = FrameConfigExtraParts()) {
    extraParts = byte;
  }
  // Outside 1 to 5 nothing would ever start: keep to the valid range.
  if (partsAtOnce < 1 || partsAtOnce > 5) {
    LogPrintf("parts at once %d is outside 1 to 5", partsAtOnce);
    partsAtOnce = partsAtOnce < 1 ? 1 : 5;
  }
  if (downloadFolder.empty()) {
    downloadFolder = NormaliseFolder(FromUtf8(HomeFolder() + "/DOWNLOAD"));
  }
  if (!store_) store_ = &noStore_;
  readyEvent_.Reset();
  auto queueReady = std::make_shared<ManualResetEvent>();
  try {
    thread_ = std::thread(&CDownloadManager::ThreadMain, this, queueReady);
  } catch (const std::system_error& e) {
    LogPrintf("the manager thread cannot be started: %s", e.what());
    return false;
  }
  // Posts need the thread's queue: wait for it in any case.
  queueReady->Wait();
  if (wait) {
    readyEvent_.Wait();
    readyEvent_.Reset();
  }
  return true;
}

void CDownloadManager::Quit() {
  if (!thread_.joinable()) return;
  if (PostThreadMessage(threadId_.load(), MGRM_QUIT, 0, 0)) readyEvent_.Wait();
  thread_.join();
}

void CDownloadManager::ThreadMain(std::shared_ptr<ManualResetEvent> queueReady) {
  RunThreadStartHook();
  ThreadQueue queue;
  threadId_ = queue.id();
  PostThreadMessage(queue.id(), MGRM_INIT, 0, 0);
  queueReady->Set();
  while (!leave_) {
    if (queue.Wait(NextDueTimeoutMs()) == WaitResult::kTimeout) {
      RunDueRestarts();
      store_->Checkpoint(*this, CheckpointReason::kDue);
      continue;
    }
    // Drain the queue; the leave condition is acted on once it is empty.
    Message m;
    while (queue.Peek(&m)) {
      Dispatch(m);
      m.Free();
      RunDueRestarts();
    }
  }
  // Every part has reported its end; wait for the threads to return so no
  // record is touched while the state is saved.
  for (auto& part : workers) {
    if (part->workerThread.joinable()) part->workerThread.join();
  }
  // A state never read is never overwritten.
  if (savedStateRead_) store_->WriteResumeFile(*this);
  for (int fd : heldFiles) CurrentFileSystem().Close(fd);
  heldFiles.clear();
  threadId_ = 0;
  readyEvent_.Set();
}

void CDownloadManager::Dispatch(Message& m) {
  auto part = [](uintptr_t value) { return reinterpret_cast<CPartWorker*>(value); };
  switch (m.message) {
    case MGRM_ADD_ITEM: case MGRM_START: case MGRM_RESUME: case MGRM_CANCEL_ALL:
    case MGRM_DISCARD_SAVED: case MGRM_RESTORE_SAVED: case MGRM_SET_FOLDER:
      // The front end posts these only once its download list is final.
      ReadSavedState();
      break;
    default:
      break;
  }
  switch (m.message) {
    case MGRM_INIT: OnInit(); break;
    case MGRM_QUIT: OnQuit(); break;
    case MGRM_WORKER_EXITED: OnWorkerExited(); break;
    case MGRM_CANCEL_ALL: OnCancelAll(); break;
    case MGRM_PART_CANCELLED: OnPartCancelled(part(m.lParam)); break;
    case MGRM_RESUME:
      cancelled_ = false;
      RestartStoppedParts();
      break;
    case MGRM_ADD_ITEM: OnAddItem(m); break;
    case MGRM_START: OnStart(); break;
    case MGRM_NEXT_ITEM: OnNextItem(false); break;
    case MGRM_PART_DONE: OnPartDone(part(m.wParam)); break;
    case MGRM_ADVANCE_ITEM: OnNextItem(true); break;
    case MGRM_ITEM_DONE: OnItemDone(); break;
    case MGRM_WRITE_DATA: OnWriteData(m); break;
    case MGRM_DISCARD_SAVED: OnDiscardSaved(false); break;
    case MGRM_RESTORE_SAVED: OnDiscardSaved(true); break;
    case MGRM_SET_FOLDER: OnSetFolder(m); break;
    case MGRM_PART_TIMEOUT: OnPartTimeout(part(m.lParam)); break;
    case MGRM_PART_FAILED: OnPartFailed(part(m.wParam), static_cast<int>(m.lParam)); break;
    case MGRM_PART_SOCKET_ERROR:
      OnPartSocketError(part(m.wParam), static_cast<int>(m.lParam));
      break;
    default: break;  // unknown numbers are dropped
  }
}

void CDownloadManager::Notify(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (window_) window_->Post(msg, wParam, lParam, nullptr);
}

void CDownloadManager::NotifyPartRow(CPartWorker* part, int16_t state,
                                     int64_t totalWrittenShown) {
  auto row = std::make_unique<PartRowRecord>();
  row->part = part;
  row->start = part->startOffset;
  row->current = part->currentOffset;
  row->end = part->endOffset;
  row->fileSize = part->fileSize;
  row->state = state;
  row->totalWritten = totalWrittenShown;
  row->fileName.Set(part->fileName);
  row->source.Set(part->downType != 0 ? std::u16string_view(u"peer")
                                      : std::u16string_view(part->connectUrl));
  NotifyRecord(DLGN_PART_STARTED, 0, std::move(row));
}

void CDownloadManager::PostSelf(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  PostThreadMessage(threadId_.load(), msg, wParam, lParam);
}

int32_t CDownloadManager::CountWorkerEnd() {
  int32_t left = --activeWorkerCount_;
  if (left == 0 && quitting) leave_ = true;
  return left;
}

void CDownloadManager::OnInit() {
  readyEvent_.Set();
  // The resume file names the files it keeps by the download list, which
  // start-up may still be extending; then it is read with the first request
  // of the front end instead.
  if (DownloadListFinished().IsSet()) ReadSavedState();
}

void CDownloadManager::ReadSavedState() {
  if (savedStateRead_) return;
  savedStateRead_ = true;
  store_->ReadResumeFile(*this);
}

void CDownloadManager::OnQuit() {
  quitting = true;
  // Restarts still waiting for their time are dropped: the part stays
  // stopped and is saved as such.
  for (const PendingRestart& p : pendingRestarts_) {
    p.part->state = PART_STOPPED;
    --activeWorkerCount_;
  }
  pendingRestarts_.clear();
  for (auto& part : workers) {
    part->stopRequested = true;
    // Wake a worker wherever it waits; a post to an ended thread fails.
    if (ThreadId id = part->workerThreadId.load()) PostThreadMessage(id, WKRM_WAKE, 0, 0);
  }
  if (activeWorkerCount_.load() == 0) leave_ = true;
}

void CDownloadManager::OnWorkerExited() {
  int32_t left = CountWorkerEnd();
  store_->Checkpoint(*this, CheckpointReason::kPartEnded);
  if (left == 0 && !quitting) Notify(DLGN_IDLE);
}

void CDownloadManager::OnCancelAll() {
  cancelled_ = true;
  for (auto& part : workers) {
    if (ThreadId id = part->workerThreadId.load()) PostThreadMessage(id, WKRM_STOP, 0, 0);
  }
  // A restart waiting for its time answers at once, as a worker would.
  std::vector<PendingRestart> pending;
  pending.swap(pendingRestarts_);
  for (const PendingRestart& p : pending) OnPartCancelled(p.part);
}

void CDownloadManager::OnPartCancelled(CPartWorker* part) {
  part->state = PART_FAILED;
  int32_t left = CountWorkerEnd();
  store_->Checkpoint(*this, CheckpointReason::kPartEnded);
  if (left == 0) Notify(DLGN_CANCELLED);
}

void CDownloadManager::OnStart() {
  cancelled_ = false;
  for (int fd : heldFiles) CurrentFileSystem().Close(fd);
  heldFiles.clear();
  if (ResumeParts() == 0) {
    PostSelf(MGRM_NEXT_ITEM);
  } else {
    Notify(DLGN_STARTED);
  }
}

void CDownloadManager::OnDiscardSaved(bool restore) {
  // Records are destroyed only while none of them runs.
  if (activeWorkerCount_.load() != 0) {
    LogPrintf("discarding the saved state refused: %d parts are running",
              activeWorkerCount_.load());
    return;
  }
  workers.clear();
  savedParts.clear();
  itemUrls.clear();
  itemSizes.clear();
  totalSize = 0;
  totalWritten = 0;
  // The list is probed anew: an earlier failed probe no longer counts.
  probeFailed = false;
  if (restore) savedParts = savedPartsCopy;
}

void CDownloadManager::OnSetFolder(Message& m) {
  std::unique_ptr<FolderChangeRecord> change = TakeRecord<FolderChangeRecord>(m);
  if (!change || change->folder.empty()) return;
  downloadFolder = NormaliseFolder(change->folder);
  if (change->resetCurrentItem) currentItem = -1;
}

int CDownloadManager::NextDueTimeoutMs() const {
  const int checkpoint = store_->CheckpointDueInMs();
  if (pendingRestarts_.empty()) return checkpoint;
  auto due = pendingRestarts_.front().due;
  for (const PendingRestart& p : pendingRestarts_) due = std::min(due, p.due);
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      due - std::chrono::steady_clock::now());
  // Round up so a wake-up never comes a little early and spins.
  const int restart = static_cast<int>(std::max<int64_t>(0, left.count() + 1));
  return checkpoint < 0 ? restart : std::min(restart, checkpoint);
}

void CDownloadManager::RunDueRestarts() {
  if (pendingRestarts_.empty()) return;
  auto now = std::chrono::steady_clock::now();
  std::vector<CPartWorker*> due;
  auto it = std::remove_if(pendingRestarts_.begin(), pendingRestarts_.end(),
                           [&](const PendingRestart& p) {
                             if (p.due > now) return false;
                             due.push_back(p.part);
                             return true;
                           });
  pendingRestarts_.erase(it, pendingRestarts_.end());
  for (CPartWorker* part : due) {
    // The waiting restart held one count; RestartPart takes its own.
    --activeWorkerCount_;
    part->state = PART_STOPPED;
    RestartPart(part);
  }
}

bool CDownloadManager::LaunchPath(std::string* path) const {
  std::u16string launch;
  if (!LaunchFilePath(downloadFolder, relativeFolder, LaunchFileName, &launch))
    return false;
  *path = ToUtf8(launch);
  return true;
}

}  // namespace vespar
