#pragma once

// Test fixture for the engine (test use only): the real manager thread and
// range workers against the in-process test server, a recording window
// sink, a recording resume store, scripted prompts and a temp download
// folder.

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/bootstrap/globals.h"
#include "src/engine/completion.h"
#include "src/engine/download_manager.h"
#include "src/engine/messages.h"
#include "src/engine/records.h"
#include "src/engine/source_rotation.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"
#include "src/platform/prompt.h"
#include "src/platform/resolver.h"
#include "tests/support/test_server.h"

namespace vespar::engine_testing {

// Deterministic bytes that differ at every offset of a small period.
inline std::string TestBytes(size_t size, uint32_t seed = 1) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(x >> 16);
  }
  return bytes;
}

// Records what the manager asks of the resume file, and lets a test fill
// the saved parts as a resume file would.
class RecordingResumeStore : public ResumeStore {
 public:
  std::function<void(CDownloadManager&)> onRead;  // runs on the manager thread
  std::function<void(CDownloadManager&)> onWrite;

  int ReadResumeFile(CDownloadManager& m) override {
    if (onRead) onRead(m);
    return 0;
  }
  int WriteResumeFile(CDownloadManager& m) override {
    if (onWrite) onWrite(m);
    std::lock_guard<std::mutex> lock(mutex_);
    ++writes_;
    cv_.notify_all();
    return 0;
  }
  void Checkpoint(CDownloadManager&, CheckpointReason reason) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reason == CheckpointReason::kPartEnded) ++partEnds_;
    cv_.notify_all();
  }
  // True once `n` part ends have been checkpointed in all.
  bool WaitForPartEnds(int n, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return partEnds_ >= n; });
  }
  int writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  int partEnds_ = 0;  // GUARDED_BY(mutex_)
  int writes_ = 0;    // GUARDED_BY(mutex_)
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-engine-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    download_dir_ = dir_ + "/download";
    SetLogFolderForTesting(dir_ + "/log");
    ApplicationTitle = u"Vespar Downloader";
    FolderLayoutFlag.clear();
    ContentBaseUrl.clear();
    LaunchFileName.clear();
    DownloadBases.clear();
    DownloadFolders.clear();
    DownloadNames.clear();
    ResetCompletionQuestion();
    SetPrompt(&prompt_);
    timings_.connectMs = 2000;
    timings_.headMs = 10000;
    timings_.receiveMs = 10000;
    timings_.retryFirstMs = 20;
    timings_.retryMaxMs = 80;
    manager_ = std::make_unique<CDownloadManager>();
    sink_ = std::make_unique<RecordingWindowSink>();
    store_ = std::make_unique<RecordingResumeStore>();
    server_ = std::make_unique<testing::TestServer>(server_options_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }

  void TearDown() override {
    manager_.reset();  // quits the manager thread first
    server_.reset();
    SetPrompt(nullptr);
    SetFileSystem(nullptr);
    SetResolver(nullptr);
    SetLogFolderForTesting("");
    FolderLayoutFlag.clear();
    ContentBaseUrl.clear();
    LaunchFileName.clear();
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  void StartManager() {
    manager_->SetWindow(sink_.get());
    manager_->SetResumeStore(store_.get());
    manager_->SetTimings(timings_);
    manager_->downloadFolder = FromUtf8(download_dir_ + "/");
    ASSERT_TRUE(manager_->Start(nullptr, true));
  }

  void Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) {
    ASSERT_TRUE(PostThreadMessage(manager_->threadId(), msg, wParam, lParam));
  }
  void AddItem(const std::string& url) {
    auto record = std::make_unique<std::u16string>(FromUtf8(url));
    ASSERT_TRUE(PostThreadRecord(manager_->threadId(), MGRM_ADD_ITEM, 0, record));
  }
  // Adds the URLs and waits until each has been probed. The lParam of the
  // last DLGN_ITEM_PROBED (1 when a probe failed), or -1 on a time-out.
  intptr_t ProbeAll(const std::vector<std::string>& urls) {
    size_t from = sink_->size();
    for (const std::string& url : urls) AddItem(url);
    int index = -1;
    for (size_t i = 0; i < urls.size(); ++i) {
      index = sink_->WaitFor(DLGN_ITEM_PROBED, index < 0 ? from : index + 1);
      if (index < 0) return -1;
    }
    return sink_->at(index).lParam;
  }
  // Index of the first `msg` at or after `from`; -1 after `timeout`.
  int Wait(uint32_t msg, size_t from = 0,
           std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    return sink_->WaitFor(msg, from, timeout);
  }
  // Probes, starts and waits for DLGN_ALL_COMPLETE; false on anything else.
  bool Download(const std::vector<std::string>& urls) {
    if (ProbeAll(urls) != 0) return false;
    size_t from = sink_->size();
    Post(MGRM_START);
    return Wait(DLGN_ALL_COMPLETE, from) >= 0;
  }

  std::string Url(const std::string& path) const { return server_->Url(path); }
  std::string LocalPath(const std::string& relative) const {
    return download_dir_ + "/" + relative;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& relative) const {
    return PosixFileSystem().Exists(LocalPath(relative));
  }
  // Range values of the GET requests for `path`, in arrival order.
  std::vector<std::string> GetRanges(const std::string& path) const {
    std::vector<std::string> ranges;
    for (const auto& r : server_->Requests()) {
      if (r.method == "GET" && r.path == path) ranges.push_back(r.range);
    }
    return ranges;
  }
  std::vector<Message> Messages(uint32_t msg) const {
    std::vector<Message> out;
    for (const Message& m : sink_->Snapshot()) {
      if (m.message == msg) out.push_back(m);
    }
    return out;
  }
  static CPartWorker* PartOf(const Message& m) {
    return reinterpret_cast<CPartWorker*>(m.message == DLGN_PART_STARTED
                                              ? reinterpret_cast<uintptr_t>(
                                                    reinterpret_cast<PartRowRecord*>(m.lParam)->part)
                                          : m.message == DLGN_ERROR ||
                                                  m.message == DLGN_SOCKET_ERROR
                                              ? m.wParam
                                              : static_cast<uintptr_t>(m.lParam));
  }

  testing::TestServerOptions server_options_;
  std::unique_ptr<testing::TestServer> server_;
  std::unique_ptr<RecordingWindowSink> sink_;
  std::unique_ptr<RecordingResumeStore> store_;
  ScriptedPrompt prompt_;
  EngineTimings timings_;
  std::string dir_;
  std::string download_dir_;
  std::unique_ptr<CDownloadManager> manager_;
};

}  // namespace vespar::engine_testing
