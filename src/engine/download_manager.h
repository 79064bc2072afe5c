#pragma once

// The download manager: one thread that owns every piece of engine state,
// takes requests as posted thread messages (messages.h) from the front end,
// from the range workers and from itself, and reports to the front end
// through a WindowSink.
//
// Threads: the manager thread alone changes the fields below, except where a
// comment says otherwise. The front end reads totalSize, totalWritten and the
// offsets of parts whose pointers came with a notification (atomics), and
// the strings downloadFolder, savedFolder and relativeFolder only between
// notifications that order them (after DLGN_ITEM_PROBED, after
// DLGN_ALL_COMPLETE). It never writes them: a folder choice travels as
// MGRM_SET_FOLDER.
//
// A front end drives it so: SetWindow, SetResumeStore (FileResumeStore),
// Start(app, true); PostDownloadList; after the last DLGN_ITEM_PROBED with
// lParam 0, MGRM_START; MGRM_CANCEL_ALL to pause and MGRM_RESUME to go on;
// on DLGN_ALL_COMPLETE, LaunchPath and ResetCompletionQuestion; Quit at the
// end. For DLGN_ERROR 22 the part's writeError names the cause.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "src/engine/checkpoint_store.h"
#include "src/engine/divide_file.h"
#include "src/engine/part_record.h"
#include "src/engine/window_sink.h"
#include "src/platform/event.h"
#include "src/platform/message_queue.h"

namespace vespar {

// Time limits of the engine; tests shorten them.
struct EngineTimings {
  int connectMs = 5000;    // connecting to a server
  int headMs = 60000;      // reading a response head (item probe and range GET)
  int receiveMs = 60000;   // a running part without any data or message
  int retryFirstMs = 1000; // first pause before restarting a failed part
  int retryMaxMs = 30000;  // the pause doubles up to this
};

class CDownloadManager {
 public:
  CDownloadManager();
  // Quits a running manager thread first, then destroys every part record.
  ~CDownloadManager();
  CDownloadManager(const CDownloadManager&) = delete;
  CDownloadManager& operator=(const CDownloadManager&) = delete;

  // --- Set up before Start; not changed afterwards. ---
  void SetWindow(WindowSink* window) { window_ = window; }  // borrowed
  void SetResumeStore(ResumeStore* store) { store_ = store; }  // borrowed
  // Override the layout table's parts-at-once and extra-parts bytes (0 keeps
  // the table's value, or the default when the table's byte is 0).
  void SetPartsAtOnceOverride(int n) { partsOverride_ = n; }
  void SetExtraPartsOverride(int n) { extraOverride_ = n; }
  void SetMaxPartSize(uint32_t bytes) { maxPartSize = bytes; }
  void SetTimings(const EngineTimings& timings) { timings_ = timings; }
  // Makes every worker thread creation fail, as when the system has no
  // threads left.
  void SetThreadStartFailureForTesting(bool fail) { failThreadStart_ = fail; }

  // Starts the manager thread. With `wait`, returns once the thread is ready
  // (it then reads the resume file before it handles anything else). False
  // when the thread cannot be started.
  bool Start(void* app, bool wait);
  // Posts MGRM_QUIT and waits until the thread has stopped its parts, saved
  // its state and ended. Returns at once when no thread runs.
  void Quit();

  ThreadId threadId() const { return threadId_.load(); }
  int32_t ActiveWorkerCount() const { return activeWorkerCount_.load(); }
  const EngineTimings& timings() const { return timings_; }
  int16_t PartsAtOnce() const { return partsAtOnce; }
  int16_t ExtraParts() const { return extraParts; }

  // The launch file's path (download folder, relative folder of the last
  // file, LaunchFileName) in UTF-8; false (error 24) when the name would
  // leave the download folder. Call after DLGN_ALL_COMPLETE.
  bool LaunchPath(std::string* path) const;

  // --- Engine state (manager thread; see the header comment). ---
  bool allDone = false;
  bool probeFailed = false;
  int32_t currentItem = -1;
  int32_t partsStarted = 0;
  std::atomic<int64_t> totalSize{0};
  int64_t fileSize = 0;
  std::atomic<int64_t> totalWritten{0};
  std::atomic<int64_t> fileWritten{0};
  std::u16string fileName;
  std::u16string itemUrl;
  std::vector<int> heldFiles;  // part files kept open by the resume reader
  bool quitting = false;
  int16_t partsAtOnce = 1;
  int16_t extraParts = 0;
  uint32_t maxPartSize = 0x10000000;
  std::u16string savedFolder;
  std::vector<CPartRecord> savedParts;
  std::vector<CPartRecord> savedPartsCopy;
  std::u16string downloadFolder;  // ends with "/"
  std::u16string relativeFolder;  // of the file whose part was started last
  std::vector<std::u16string> itemUrls;
  std::vector<int64_t> itemSizes;
  // Every part record of the run, in creation order (a stable order).
  std::vector<std::unique_ptr<CPartWorker>> workers;
  CPartConnection probe;

 private:
  struct PendingRestart {
    CPartWorker* part;
    std::chrono::steady_clock::time_point due;
  };

  void ThreadMain(std::shared_ptr<ManualResetEvent> queueReady);
  void Dispatch(Message& m);
  int NextDueTimeoutMs() const;
  void RunDueRestarts();

  // Window notifications.
  void Notify(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
  template <typename T>
  void NotifyRecord(uint32_t msg, uintptr_t wParam, std::unique_ptr<T> record) {
    if (window_) PostWindowRecord(*window_, msg, wParam, std::move(record));
  }
  void NotifyPartRow(CPartWorker* part, int16_t state, int64_t totalWrittenShown);
  void PostSelf(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);

  // Handlers (download_manager.cc, manager_items.cc, manager_parts.cc).
  void OnInit();
  void ReadSavedState();
  void OnQuit();
  void OnWorkerExited();
  void OnCancelAll();
  void OnPartCancelled(CPartWorker* part);
  void OnAddItem(Message& m);
  void OnStart();
  void OnNextItem(bool advance);
  void OnPartDone(CPartWorker* part);
  void OnItemDone();
  void OnWriteData(Message& m);
  void OnDiscardSaved(bool restore);
  void OnSetFolder(Message& m);
  void OnPartTimeout(CPartWorker* part);
  void OnPartFailed(CPartWorker* part, int code);
  void OnPartSocketError(CPartWorker* part, int error);
  // Counts one end report; sets the leave condition when quitting and none
  // is left. Returns the new count.
  int32_t CountWorkerEnd();
  void CompleteAll();

  // Item preparation and planning (manager_items.cc, manager_planning.cc).
  int ProbeItem(const std::u16string& url);
  int PlanItem(const std::u16string& url, bool start);
  int StartPart(const std::u16string& url, int64_t start, int64_t end,
                int64_t current);
  void StartPartWorker(CPartWorker* part);
  int RestoreSavedParts(const std::u16string& url);
  int RestartPart(CPartWorker* part);
  int ResumeParts();
  void RestartStoppedParts();
  int StartRemainingParts();
  void ScheduleRestart(CPartWorker* part);
  CPartWorker* FirstRestartable() const;
  FileDivision CurrentDivision() const;
  // Sets relativeFolder and returns the local path (without ".tmp") of the
  // current file; creates its folder.
  std::u16string PrepareLocalPath(const std::u16string& url, const std::u16string& name);
  void PrepareFreshPartFile(const std::u16string& localPath);

  WindowSink* window_ = nullptr;
  ResumeStore* store_ = nullptr;
  NoResumeStore noStore_;
  EngineTimings timings_;
  int partsOverride_ = 0;
  int extraOverride_ = 0;
  bool failThreadStart_ = false;

  std::thread thread_;
  std::atomic<ThreadId> threadId_{0};
  ManualResetEvent readyEvent_;
  std::atomic<int32_t> activeWorkerCount_{0};
  bool leave_ = false;
  // Set by MGRM_CANCEL_ALL until the next start or resume: a failure that
  // crosses the cancel is not restarted behind the user's back.
  bool cancelled_ = false;
  bool savedStateRead_ = false;  // the resume file has been read
  std::vector<PendingRestart> pendingRestarts_;
};

}  // namespace vespar
