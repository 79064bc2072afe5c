// Part planning and (re)starting of part workers; manager thread only.

#include <algorithm>
#include <system_error>

#include "src/engine/download_manager.h"
#include "src/engine/file_naming.h"
#include "src/engine/local_path.h"
#include "src/engine/messages.h"
#include "src/engine/range_worker.h"
#include "src/engine/records.h"
#include "src/engine/source_rotation.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {

FileDivision CDownloadManager::CurrentDivision() const {
  return DivideFile(fileSize, partsAtOnce, extraParts, maxPartSize);
}

CPartWorker* CDownloadManager::FirstRestartable() const {
  for (const auto& part : workers) {
    if (IsRestartable(part->state)) return part.get();
  }
  return nullptr;
}

std::u16string CDownloadManager::PrepareLocalPath(const std::u16string& url,
                                                  const std::u16string& name) {
  // The item passed these checks when it was probed.
  if (!RelativeFolderOf(url, &relativeFolder)) relativeFolder.clear();
  std::u16string folder = JoinLocalPath(downloadFolder, relativeFolder, u"");
  // A folder that cannot be made shows as the part file failing to open (9).
  CurrentFileSystem().MakeFolders(ToUtf8(folder));
  return JoinLocalPath(downloadFolder, relativeFolder, name);
}

// A file planned from its beginning: whatever a part file of that name holds
// beyond the file's size is not ours, so cut it to the size. Bytes inside the
// size are overwritten by the parts.
void CDownloadManager::PrepareFreshPartFile(const std::u16string& localPath) {
  int fd = -1;
  FileSystem& fs = CurrentFileSystem();
  if (fs.OpenForWrite(ToUtf8(localPath + u".tmp"), OpenMode::kExistingOnly, &fd) != 0)
    return;
  fs.Truncate(fd, fileSize);
  fs.Close(fd);
}

int CDownloadManager::PlanItem(const std::u16string& url, bool start) {
  if (partsAtOnce < 1 || partsAtOnce > 5) return 1;
  partsStarted = 0;
  fileWritten = 0;
  itemUrl = url;
  fileName = FileNameFromUrl(url);
  auto found = std::find(itemUrls.begin(), itemUrls.end(), url);
  if (found != itemUrls.end()) fileSize = itemSizes[found - itemUrls.begin()];
  FileDivision division = CurrentDivision();

  auto plan = std::make_unique<ItemPlanRecord>();
  plan->totalSize = totalSize;
  plan->fileSize = fileSize;
  plan->totalWritten = totalWritten;
  plan->fileWritten = fileWritten;
  plan->folder.Set(downloadFolder);
  plan->fileName.Set(fileName);
  plan->url.Set(url);
  NotifyRecord(DLGN_ITEM_BEGIN, 0, std::move(plan));
  if (!start) return 0;

  PrepareFreshPartFile(PrepareLocalPath(url, fileName));
  if (division.count == 1) {
    StartPart(url, 0, fileSize - 1, 0);
    return 0;
  }
  // Highest range first; part numbers follow the order of starting.
  for (int64_t k = partsAtOnce - 1; k >= 0; --k) {
    StartPart(url, division.StartOf(k), division.EndOf(k), division.StartOf(k));
  }
  return 0;
}

int CDownloadManager::StartPart(const std::u16string& url, int64_t start, int64_t end,
                                int64_t current) {
  if (quitting) return 1;
  std::u16string localPath = PrepareLocalPath(url, fileName);
  ++activeWorkerCount_;
  ++partsStarted;
  workers.push_back(std::make_unique<CPartWorker>());
  CPartWorker* part = workers.back().get();
  part->partIndex = partsStarted - 1;
  part->fileSize = fileSize;
  part->fileName = fileName;
  part->sourceUrl = url;
  part->connectUrl = url;
  part->localPath = localPath;
  part->startOffset = start;
  part->endOffset = end;
  part->currentOffset = current;
  NotifyPartRow(part, -1, 0);
  StartPartWorker(part);
  return 0;
}

void CDownloadManager::StartPartWorker(CPartWorker* part) {
  // The previous run has reported its end; let its thread return first.
  if (part->workerThread.joinable()) part->workerThread.join();
  part->downType = 0;
  part->manager = this;
  part->writeDone = std::make_unique<ManualResetEvent>();
  part->writeError = 0;
  part->workerThreadId = 0;
  auto started = std::make_shared<ManualResetEvent>();
  bool created = !failThreadStart_;
  if (created) {
    try {
      part->workerThread = std::jthread(RangeWorkerMain, part, started);
    } catch (const std::system_error& e) {
      LogPrintf("a worker thread cannot be started: %s", e.what());
      created = false;
    }
  }
  if (!created) {
    // Report as a worker that failed at once would, so the count stays true.
    part->state = PART_DISCONNECTED;
    PostSelf(MGRM_PART_FAILED, reinterpret_cast<uintptr_t>(part), kErrorThreadStart);
    PostSelf(MGRM_WORKER_EXITED);
    return;
  }
  // A cancel must be able to reach the worker as soon as Start returns.
  started->Wait();
}

int CDownloadManager::RestartPart(CPartWorker* part) {
  if (quitting) return 1;
  if (part->workerThread.joinable()) part->workerThread.join();
  if (part->currentOffset > part->endOffset) {
    // Everything is on disk: the part is complete and never asks for
    // "bytes=N-(N-1)".
    part->state = PART_COMPLETE;
    return 0;
  }
  ++activeWorkerCount_;
  NotifyPartRow(part, -1, 0);
  part->state = PART_TRANSFERRING;
  if (part->downType == 0) {
    // The folder may not have been made when the part was planned (a
    // read-only or missing disk since mended): make it again.
    const std::string path = ToUtf8(part->localPath);
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
      CurrentFileSystem().MakeFolders(path.substr(0, slash));
    StartPartWorker(part);
  } else {
    --activeWorkerCount_;  // a "peer" part never runs
  }
  return 0;
}

int CDownloadManager::ResumeParts() {
  if (quitting) return 1;
  int n = 0;
  std::u16string firstUrl;
  while (CPartWorker* part = FirstRestartable()) {
    if (n == 0) firstUrl = part->sourceUrl;
    part->state = PART_TRANSFERRING;
    RestartPart(part);
    ++n;
  }
  // Parts restored at probe time belong to the item after the current one;
  // parts of the current item (a second start) do not move it on.
  bool nextItem = currentItem + 1 < static_cast<int32_t>(itemUrls.size()) &&
                  itemUrls[currentItem + 1] == (n > 0 ? firstUrl : itemUrl);
  if (n > 0) {
    if (nextItem) ++currentItem;
    return n;
  }
  // Restored parts that were all complete, of a file with ranges never
  // started: go on with those ranges instead of planning the file anew.
  if (nextItem && partsStarted > 0 && partsStarted < CurrentDivision().count) {
    ++currentItem;
    return StartRemainingParts();
  }
  return 0;
}

int CDownloadManager::StartRemainingParts() {
  FileDivision division = CurrentDivision();
  int started = 0;
  while (started < partsAtOnce && partsStarted < division.count) {
    int64_t k = partsStarted;
    if (StartPart(itemUrl, division.StartOf(k), division.EndOf(k), division.StartOf(k)) != 0)
      break;
    ++started;
  }
  return started;
}

void CDownloadManager::RestartStoppedParts() {
  std::vector<CPartWorker*> stopped;
  for (const auto& part : workers) {
    if (IsRestartable(part->state)) stopped.push_back(part.get());
  }
  for (CPartWorker* part : stopped) RestartPart(part);
}

void CDownloadManager::ScheduleRestart(CPartWorker* part) {
  if (quitting) return;
  if (cancelled_) {
    part->state = PART_FAILED;  // stays stopped, as if the cancel had reached it
    return;
  }
  part->connectUrl = ResolveSource(part->sourceUrl);
  part->retryDelayMs = part->retryDelayMs == 0
                           ? timings_.retryFirstMs
                           : std::min(part->retryDelayMs * 2, timings_.retryMaxMs);
  // Waiting counts as running: no idle report, no leave, no second restart.
  part->state = PART_WAITING;
  ++activeWorkerCount_;
  pendingRestarts_.push_back(
      {part, std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(part->retryDelayMs)});
}

}  // namespace vespar
