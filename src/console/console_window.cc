#include "src/console/console_window.h"

#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "src/app/display_format.h"
#include "src/bootstrap/globals.h"
#include "src/console/error_texts.h"
#include "src/console/start_command.h"
#include "src/console/stop_signals.h"
#include "src/engine/completion.h"
#include "src/engine/download_list_poster.h"
#include "src/engine/download_manager.h"
#include "src/engine/messages.h"
#include "src/engine/records.h"
#include "src/platform/clock.h"
#include "src/platform/code_page.h"
#include "src/platform/launcher.h"
#include "src/platform/prompt.h"

namespace vespar {
namespace {

constexpr auto kTickPeriod = std::chrono::seconds(1);
// A resume that restarted nothing leaves no part running and brings no
// report; after this long without one it counts as a failed resume.
constexpr auto kResumeSilence = std::chrono::seconds(3);

size_t TerminalColumns() {
  winsize size = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
  return 79;
}

std::string Trimmed(const std::u16string& text) {
  std::string utf8 = ToUtf8(text);
  size_t first = utf8.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : utf8.substr(first);
}

}  // namespace

std::chrono::milliseconds ResumeDelay(int attempt) {
  constexpr int64_t kFirstMs = 1000;
  constexpr int64_t kMaxMs = 30000;
  int64_t ms = kFirstMs;
  for (int i = 1; i < attempt && ms < kMaxMs; ++i) ms *= 2;
  return std::chrono::milliseconds(std::min(ms, kMaxMs));
}

ConsoleWindow::ConsoleWindow(CDownloadManager& manager, ThreadQueue& queue, ConsoleOutput& out,
                             StopSignals& stop, ConsoleSettings settings)
    : manager_(manager), queue_(queue), out_(out), stop_(stop), settings_(std::move(settings)) {}

int ConsoleWindow::Run() {
  while (!exit_) {
    pollfd fds[2] = {{queue_.fd(), POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    if (poll(fds, 2, TimeoutMs()) < 0 && errno != EINTR) {
      std::fprintf(stderr, "vespar-console: waiting for the engine failed: %s\n",
                   std::strerror(errno));
      Finish(kExitFailed);
      break;
    }
    if (int signo = stop_.received()) {
      out_.ClearLive();
      std::fprintf(stderr, "vespar-console: stopped by signal %d; the parts received so far are kept\n",
                   signo);
      Finish(128 + signo);
      break;
    }
    Message m;
    while (!exit_ && queue_.Peek(&m)) {
      Handle(m);
      m.Free();
    }
    if (exit_) break;
    const Clock::time_point now = Clock::now();
    if (resumeDue_ && now >= *resumeDue_) FireResume();
    if (started_ && !exit_ && now >= nextTick_) {
      Tick();
      nextTick_ = std::max(nextTick_ + kTickPeriod, now);
    }
  }
  return *exit_;
}

int ConsoleWindow::TimeoutMs() const {
  std::optional<Clock::time_point> due = resumeDue_;
  if (started_) due = due ? std::min(*due, nextTick_) : nextTick_;
  if (!due) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*due - Clock::now());
  // Rounded up, so the wake-up never comes a little early and spins.
  return static_cast<int>(std::max<int64_t>(0, left.count() + 1));
}

void ConsoleWindow::Handle(Message& m) {
  switch (m.message) {
    case DLGN_ITEM_ADDED:
      progress_.OnItemAdded(*reinterpret_cast<const ItemInfoRecord*>(m.lParam));
      break;
    case DLGN_ITEM_BEGIN:
      progress_.OnItemBegin(*reinterpret_cast<const ItemPlanRecord*>(m.lParam));
      break;
    case DLGN_PART_STARTED:
      progress_.OnPartStarted(*reinterpret_cast<const PartRowRecord*>(m.lParam));
      resumeFired_.reset();
      break;
    case DLGN_PROGRESS: {
      const auto* part = reinterpret_cast<const CPartWorker*>(m.lParam);
      const auto* total = reinterpret_cast<const std::atomic<int64_t>*>(m.wParam);
      progress_.OnProgress(part, part->currentOffset.load() - part->startOffset, total->load());
      // Bytes flow again: the next stop starts a fresh series of resumes.
      if (!resumeDue_) attempts_ = 0;
      lastData_ = Clock::now();
      resumeFired_.reset();
      break;
    }
    case DLGN_ITEM_COMPLETE:
      out_.Line("complete: " + ToUtf8(*reinterpret_cast<const std::u16string*>(m.lParam)));
      break;
    case DLGN_STARTED:
      if (!announced_) {
        announced_ = true;
        std::u16string folder = settings_.folder.empty() ? manager_.downloadFolder : settings_.folder;
        out_.Line("downloading " + std::to_string(settings_.entries) + " files (" +
                  ToUtf8(FormatByteSize(progress_.totalSize())) + ") into " + ToUtf8(folder));
      }
      break;
    case DLGN_ITEM_PROBED: OnProbed(m.lParam != 0); break;
    case DLGN_ITEM_DUPLICATE:
      Show(u"The download list names a file twice: " +
           *reinterpret_cast<const std::u16string*>(m.lParam));
      if (!started_) Finish(kExitFailed);
      break;
    case DLGN_ERROR: OnError(m.wParam, static_cast<int>(m.lParam)); break;
    case DLGN_SOCKET_ERROR: OnSocketError(static_cast<int>(m.lParam)); break;
    case DLGN_IDLE:
      if (started_) OnStopped("every part has stopped");
      break;
    case DLGN_CANCELLED:
      // The console cancels only for want of data, and has then scheduled
      // its resume already; whoever else did, the transfer goes on.
      if (started_) OnStopped("the transfer was cancelled");
      break;
    case DLGN_ALL_COMPLETE: OnAllComplete(); break;
    default: break;  // part rows and time-outs change nothing here
  }
}

void ConsoleWindow::OnProbed(bool failed) {
  ++probed_;
  if (started_) return;
  if (failed) {
    // Every failure is reported before its probe answer; this one was not.
    Show(u"A file of the download list could not be probed.");
    Finish(kExitFailed);
    return;
  }
  if (probed_ == settings_.entries) OnProbeRoundDone();
}

void ConsoleWindow::OnProbeRoundDone() {
  if (!folderTaken_ && !settings_.folder.empty()) {
    folderTaken_ = true;
    if (TakeFolderChoice()) return;  // the list is being probed again
  }
  if (!exit_) PressStart();
}

bool ConsoleWindow::TakeFolderChoice() {
  const FolderChoice choice =
      ChooseFolder(settings_.folder, manager_.savedFolder, manager_.totalWritten.load());
  const ThreadId manager = manager_.threadId();
  bool posted = true;
  if (choice.saved == FolderChoice::Saved::kDiscard) {
    posted = PostThreadMessage(manager, MGRM_DISCARD_SAVED, 0, 0);
  } else if (choice.saved == FolderChoice::Saved::kRestore) {
    posted = PostThreadMessage(manager, MGRM_RESTORE_SAVED, 0, 0);
  }
  auto change = std::make_unique<FolderChangeRecord>();
  change->folder = settings_.folder;
  change->resetCurrentItem = choice.resetCurrentItem;
  posted = PostThreadRecord(manager, MGRM_SET_FOLDER, 0, change) && posted;
  if (choice.saved != FolderChoice::Saved::kKeep) {
    // The manager probes every entry anew, now for the chosen folder.
    probed_ = 0;
    progress_ = ProgressDisplay();
    posted = PostDownloadList(manager) == 0 && posted;
  }
  if (!posted) {
    out_.ClearLive();
    ShowMessage(u"Send Message Error", u"error");
    Finish(kExitFailed);
    return true;
  }
  return choice.saved != FolderChoice::Saved::kKeep;
}

void ConsoleWindow::PressStart() {
  const std::u16string folder =
      settings_.folder.empty() ? manager_.downloadFolder : settings_.folder;
  int error = 0;
  switch (CheckSpace(ToUtf8(folder), manager_.totalSize.load(), manager_.totalWritten.load(),
                     &error)) {
    case SpaceCheck::kEnough: break;
    case SpaceCheck::kNotEnough:
      Show(u"Not enough disk space!");
      Finish(kExitFailed);
      return;
    case SpaceCheck::kUnknown:
      Show(u"The free space of " + folder + u" cannot be read: " +
           FromUtf8(std::strerror(error)));
      Finish(kExitFailed);
      return;
  }
  if (!PostThreadMessage(manager_.threadId(), MGRM_START, 0, 0)) {
    out_.ClearLive();
    ShowMessage(u"Send Message Error", u"error");
    Finish(kExitFailed);
    return;
  }
  started_ = true;
  lastData_ = Clock::now();
  progress_.StartOrResume(TickCount());
  nextTick_ = Clock::now() + kTickPeriod;
}

void ConsoleWindow::OnStopped(const char* why) {
  progress_.Stop();
  ScheduleResume(lastFailure_.empty() ? why : lastFailure_);
}

void ConsoleWindow::ScheduleResume(const std::string& why) {
  if (resumeDue_) return;  // one stop, one resume
  if (attempts_ >= settings_.retries) {
    Show(u"Giving up after " + FromUtf8(std::to_string(attempts_)) +
         u" attempts to resume: " + FromUtf8(why));
    Finish(kExitFailed);
    return;
  }
  ++attempts_;
  const std::chrono::milliseconds delay = ResumeDelay(attempts_);
  resumeDue_ = Clock::now() + delay;
  out_.Line("resuming in " + std::to_string(delay.count() / 1000) + " s (attempt " +
            std::to_string(attempts_) + " of " + std::to_string(settings_.retries) + ")");
}

void ConsoleWindow::FireResume() {
  resumeDue_.reset();
  lastFailure_.clear();
  if (!PostThreadMessage(manager_.threadId(), MGRM_RESUME, 0, 0)) {
    out_.ClearLive();
    ShowMessage(u"Send Message Error", u"error");
    Finish(kExitFailed);
    return;
  }
  resumeFired_ = Clock::now();
  lastData_ = *resumeFired_;
  stallCancelled_ = false;
  progress_.StartOrResume(TickCount());
}

void ConsoleWindow::OnError(uintptr_t part, int code) {
  const int writeError =
      part != 0 && (code == kErrorWriteFailed || code == kErrorOpenPartFile)
          ? reinterpret_cast<const CPartWorker*>(part)->writeError.load()
          : 0;
  const std::u16string text = EngineErrorText(code, writeError);
  Show(text);
  // Before the start a failure ends the run: a partial list is never
  // started. After it, only what a resume cannot mend does.
  if (!started_ || code == kErrorFinalName || code == kErrorNoItems) {
    Finish(kExitFailed);
    return;
  }
  lastFailure_ = ToUtf8(text);
  ScheduleResume(lastFailure_);
}

void ConsoleWindow::OnSocketError(int code) {
  const std::u16string text = SocketErrorText(code);
  if (!text.empty()) Show(text);
}

void ConsoleWindow::OnAllComplete() {
  // The one question about existing files is asked again in a later round.
  ResetCompletionQuestion();
  progress_.Complete();
  ProgressFigures figures = progress_.Tick(TickCount());
  out_.Line("all files complete: " + ToUtf8(FormatByteSize(figures.totalSize)) + " in " +
            Trimmed(figures.elapsed));
  // The engine ends and removes its saved state before anything is started.
  manager_.Quit();
  Launch();
  exit_ = kExitComplete;
}

void ConsoleWindow::Launch() {
  const std::string folder = ToUtf8(manager_.downloadFolder);
  std::string path;
  if (LaunchFileName.empty()) {
    if (!settings_.launch) {
      out_.Line("download folder: " + folder);
      return;
    }
    int error = OpenFolder(folder);
    out_.Line(error == 0 ? "opened the download folder " + folder
                         : "download folder: " + folder + " (it cannot be opened: " +
                               std::strerror(error) + ")");
    return;
  }
  if (!manager_.LaunchPath(&path)) {
    Show(EngineErrorText(kErrorLaunchOutside));
    if (settings_.launch) OpenFolder(folder);
    out_.Line("download folder: " + folder);
    return;
  }
  if (!settings_.launch) {
    out_.Line("launch file: " + path);
    return;
  }
  int error = 0;
  switch (LaunchOrOpenFolder(path, folder, &error)) {
    case LaunchOutcome::kRan: out_.Line("started " + path); break;
    case LaunchOutcome::kOpenedFolder:
      out_.Line("could not start " + path + " (" + std::strerror(error) +
                "); opened the download folder " + folder);
      break;
    case LaunchOutcome::kFailed:
      out_.Line("could not start " + path + " (" + std::strerror(error) +
                ") nor open the download folder " + folder);
      break;
  }
}

void ConsoleWindow::Tick() {
  ProgressFigures figures = progress_.Tick(TickCount());
  if (out_.live()) out_.Live(FormatProgressLine(figures, TerminalColumns()));
  // A resume that found nothing to restart: no part runs and none will
  // report, so it counts as a stop of its own.
  if (resumeFired_ && Clock::now() - *resumeFired_ >= kResumeSilence &&
      manager_.ActiveWorkerCount() == 0) {
    resumeFired_.reset();
    OnStopped("the resume restarted nothing");
  }
  // Parts that keep failing to connect are restarted by the engine without
  // end and never report a stop: stop them here and count an attempt.
  if (!resumeDue_ && !stallCancelled_ && Clock::now() - lastData_ >= settings_.noDataLimit) {
    stallCancelled_ = true;
    const std::string why = "no data for " +
                            std::to_string(settings_.noDataLimit.count() / 1000) + " s";
    PostThreadMessage(manager_.threadId(), MGRM_CANCEL_ALL, 0, 0);
    if (lastFailure_.empty()) lastFailure_ = why;
    OnStopped(why.c_str());
  }
}

void ConsoleWindow::Show(const std::u16string& text) {
  out_.ClearLive();
  ShowMessage(text, ApplicationTitle);
}

void ConsoleWindow::Finish(int status) {
  out_.ClearLive();
  manager_.Quit();
  exit_ = status;
}

}  // namespace vespar
