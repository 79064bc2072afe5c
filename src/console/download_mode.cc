#include "src/console/download_mode.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "src/app/single_instance.h"
#include "src/app/startup.h"
#include "src/bootstrap/contents_script.h"
#include "src/bootstrap/globals.h"
#include "src/console/console_window.h"
#include "src/console/progress_line.h"
#include "src/console/stop_signals.h"
#include "src/engine/download_list_poster.h"
#include "src/engine/download_manager.h"
#include "src/engine/local_path.h"
#include "src/engine/resume_store.h"
#include "src/engine/window_sink.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/message_queue.h"
#include "src/platform/prompt.h"

namespace vespar {
namespace {

constexpr int kDefaultRetries = 10;

// --folder as an absolute, normalised folder ("/" at the end).
std::u16string ChosenFolder(const std::string& folder) {
  if (folder.empty()) return {};
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  if (error) absolute = folder;
  return NormaliseFolder(FromUtf8(absolute.lexically_normal().string()));
}

}  // namespace

int RunDownloadMode(const ConsoleOptions& options) {
  // Steps 5 to 10: language, configuration, download list, strings.
  ConfigurationUrl = ChooseConfigurationUrl(FromUtf8(options.configUrl));
  if (RunStartup().outcome != StartupOutcome::kReady) return kExitFailed;

  // Step 11: one instance at a time, held until the process ends.
  SingleInstanceLock lock;
  switch (lock.Acquire(InstanceLockPath())) {
    case SingleInstanceLock::Result::kAcquired: break;
    case SingleInstanceLock::Result::kHeldElsewhere:
      std::fprintf(stderr, "vespar-console: %s is already running (lock %s)\n",
                   ToUtf8(ApplicationTitle).c_str(), InstanceLockPath().c_str());
      return kExitAlreadyRunning;
    case SingleInstanceLock::Result::kUnavailable:
      // Without a lock file the rule cannot be kept, but the download can.
      LogPrintf("no instance lock: %s", lock.error().c_str());
      break;
  }

  // Step 13: the manager thread, reporting to this thread's queue, keeping
  // its state in the resume file. The queue and the store outlive the
  // manager, whose destructor quits it.
  ThreadQueue queue;
  ThreadQueueWindowSink sink(queue.id());
  FileResumeStore store;
  StopSignals stop;
  if (!stop.Install()) std::fputs("vespar-console: Ctrl-C cannot be caught; it ends the download at once\n", stderr);
  CDownloadManager manager;
  manager.SetWindow(&sink);
  manager.SetResumeStore(&store);
  if (options.parts) manager.SetPartsAtOnceOverride(*options.parts);
  if (options.extraParts) manager.SetExtraPartsOverride(*options.extraParts);
  if (!manager.Start(nullptr, true)) {
    std::fputs("vespar-console: the download manager cannot be started\n", stderr);
    return kExitFailed;
  }

  // Step 14: the contents script may add to the list and name the launch
  // file. Whatever its result, the list is final now; the resume reader on
  // the manager thread waits for that.
  const int script = RunContentsScript();
  DownloadListFinished().Set();
  if (script != 0) {
    ShowMessage(ScriptErrorText, ApplicationTitle);
    manager.Quit();
    return kExitFailed;
  }

  if (DownloadNames.empty()) {
    std::fputs("vespar-console: the download list is empty\n", stderr);
    manager.Quit();
    return kExitFailed;
  }
  if (PostDownloadList(manager.threadId()) != 0) {
    ShowMessage(u"Send Message Error", u"error");
    manager.Quit();
    return kExitFailed;
  }

  ConsoleSettings settings;
  settings.folder = ChosenFolder(options.folder);
  settings.launch = !options.noLaunch;
  settings.retries = options.retries.value_or(kDefaultRetries);
  settings.entries = DownloadNames.size();
  ConsoleOutput out(stdout, isatty(STDOUT_FILENO) == 1);
  ConsoleWindow window(manager, queue, out, stop, settings);
  return window.Run();
}

}  // namespace vespar
