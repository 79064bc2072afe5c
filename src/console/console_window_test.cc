#include "src/console/console_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "src/bootstrap/globals.h"
#include "src/console/progress_line.h"
#include "src/console/stop_signals.h"
#include "src/engine/download_list_poster.h"
#include "src/engine/download_manager.h"
#include "src/engine/window_sink.h"
#include "src/platform/code_page.h"
#include "src/platform/message_queue.h"
#include "src/platform/prompt.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

namespace fs = std::filesystem;

// The console window over the real manager, against a server whose every
// transfer breaks off before the first byte: the engine restarts such parts
// without end and reports no stop, so only the console's own limit ends the
// run.
TEST(ConsoleWindowTest, TransferThatNeverBringsDataIsGivenUp) {
  testing::TestServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("/files/x.dat", std::string(5000, 'x'));
  testing::Fault broken;
  broken.method = testing::FaultMethod::kGet;
  broken.cut_after = 0;
  server.SetFault("/files/x.dat", broken);

  const fs::path folder = fs::temp_directory_path() /
                          ("console-window-test-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::u16string base = FromUtf8(server.Url("/"));
  ApplicationTitle = u"Vespar Downloader";
  FolderLayoutFlag = u"r";
  ContentBaseUrl = base;
  DownloadBases = {base};
  DownloadFolders = {u"files/"};
  DownloadNames = {u"x.dat"};
  DownloadListFinished().Set();

  ScriptedPrompt prompt;
  SetPrompt(&prompt);
  ThreadQueue queue;
  ThreadQueueWindowSink sink(queue.id());
  CDownloadManager manager;
  manager.SetWindow(&sink);
  EngineTimings timings;
  timings.connectMs = 1000;
  timings.headMs = 2000;
  timings.receiveMs = 2000;
  timings.retryFirstMs = 50;
  timings.retryMaxMs = 100;
  manager.SetTimings(timings);
  ASSERT_TRUE(manager.Start(nullptr, true));
  ASSERT_EQ(PostDownloadList(manager.threadId()), 0);

  ConsoleSettings settings;
  settings.folder = FromUtf8(folder.string() + "/");
  settings.launch = false;
  settings.retries = 1;
  settings.entries = 1;
  settings.noDataLimit = std::chrono::milliseconds(700);
  std::FILE* lines = std::tmpfile();
  ConsoleOutput out(lines, false);
  StopSignals stop;  // not installed: no signal ends this run
  ConsoleWindow window(manager, queue, out, stop, settings);

  EXPECT_EQ(window.Run(), kExitFailed);
  bool gave_up = false;
  for (const auto& asked : prompt.asked()) {
    if (ToUtf8(asked.text).find("Giving up after 1 attempts to resume: no data for") !=
        std::string::npos)
      gave_up = true;
  }
  EXPECT_TRUE(gave_up);
  EXPECT_GE(server.Requests().size(), 3u);  // the probe and at least two transfers
  EXPECT_FALSE(fs::exists(folder / "files" / "x.dat"));

  SetPrompt(nullptr);
  std::fclose(lines);
  fs::remove_all(folder);
  DownloadBases.clear();
  DownloadFolders.clear();
  DownloadNames.clear();
  DownloadListFinished().Reset();
}

}  // namespace
}  // namespace vespar
