#pragma once

// The console's part of the engine protocol: what the main window does with
// each notification, played on the console's own thread queue. It presses
// Start itself once every entry of the download list has been probed,
// resumes stopped transfers with growing pauses, runs the launch file at the
// end, and turns everything into an exit status.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "src/console/progress_line.h"
#include "src/platform/message_queue.h"

namespace vespar {

class CDownloadManager;
class StopSignals;

enum ConsoleExit {
  kExitComplete = 0,
  kExitFailed = 1,
  kExitUsage = 2,
  kExitAlreadyRunning = 3,
  // A stop signal ends the run with 128 + its number, as a shell reports it.
};

struct ConsoleSettings {
  std::u16string folder;  // normalised --folder; empty: the engine's own
  bool launch = true;     // false: print the launch file's path only
  int retries = 10;       // resumes without progress before giving up
  size_t entries = 0;     // entries of the download list
  // A started transfer that brings no byte for this long is stopped and
  // counted as a failed attempt, so a server that refuses every connection
  // (which the engine retries without end) cannot hold the console for ever.
  std::chrono::milliseconds noDataLimit = std::chrono::seconds(120);
};

// The pause before resume `attempt` (1, 2, 3 ...): 1 s doubling to 30 s.
std::chrono::milliseconds ResumeDelay(int attempt);

class ConsoleWindow {
 public:
  // `manager` (started, with its window sink posting to `queue`), `queue`
  // (owned by the calling thread), `out` and `stop` are borrowed and must
  // outlive Run.
  ConsoleWindow(CDownloadManager& manager, ThreadQueue& queue, ConsoleOutput& out,
                StopSignals& stop, ConsoleSettings settings);

  // The message loop; call after the download list has been posted. Returns
  // once the manager thread has been quit, with the exit status.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  void Handle(Message& m);
  void OnProbed(bool failed);
  void OnProbeRoundDone();
  bool TakeFolderChoice();
  void PressStart();
  void OnStopped(const char* why);
  void ScheduleResume(const std::string& why);
  void FireResume();
  void OnError(uintptr_t part, int code);
  void OnSocketError(int code);
  void OnAllComplete();
  void Launch();
  void Tick();
  // Shows a message as the window's box would (one line on standard error).
  void Show(const std::u16string& text);
  // Quits the manager thread and ends the loop with `status`.
  void Finish(int status);
  int TimeoutMs() const;

  CDownloadManager& manager_;
  ThreadQueue& queue_;
  ConsoleOutput& out_;
  StopSignals& stop_;
  const ConsoleSettings settings_;
  ProgressDisplay progress_;

  size_t probed_ = 0;          // DLGN_ITEM_PROBED (and duplicates) this round
  bool folderTaken_ = false;   // --folder has been acted on
  bool started_ = false;       // MGRM_START posted
  bool announced_ = false;     // the first DLGN_STARTED was shown
  int attempts_ = 0;           // resumes since bytes last arrived
  std::string lastFailure_;    // why the transfer stopped last
  std::optional<Clock::time_point> resumeDue_;    // when MGRM_RESUME is posted
  std::optional<Clock::time_point> resumeFired_;  // posted, no part started yet
  Clock::time_point lastData_;  // start, resume or the latest block written
  bool stallCancelled_ = false;  // MGRM_CANCEL_ALL sent for want of data
  Clock::time_point nextTick_;
  std::optional<int> exit_;
};

}  // namespace vespar
