// A download in three parts whose process is killed (SIGKILL) in the middle,
// twice, and started again: it finishes with the source's bytes, and every
// restarted run asks exactly for the ranges the last checkpoint left open.
//
// The downloading process is this test binary run again with a filter that
// selects EngineCrashChild.DISABLED_Run and the settings in its environment:
// the real manager, range workers and resume file, in a process that can be
// killed at any moment.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "src/engine/engine_test_fixture.h"
#include "src/engine/resume_store.h"

extern char** environ;

namespace vespar::engine_testing {
namespace {

constexpr int64_t kPart = 256 * 1024;
constexpr int64_t kSize = 3 * kPart;
constexpr char kChildFilter[] = "--gtest_filter=EngineCrashChild.DISABLED_Run";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Runs in the child process: downloads VESPAR_CRASH_URL in three parts into
// VESPAR_CRASH_FOLDER with the resume file below VESPAR_CRASH_DOCUMENTS.
TEST(EngineCrashChild, DISABLED_Run) {
  const std::string url = Env("VESPAR_CRASH_URL");
  if (url.empty()) GTEST_SKIP() << "run by EngineCrashTest only";
  SetLogFolderForTesting(Env("VESPAR_CRASH_FOLDER") + "log");
  ApplicationTitle = u"Vespar Downloader";
  DownloadNames = {FromUtf8(url.substr(url.rfind('/') + 1))};
  ManualResetEvent listFinal(true);
  FileResumeStore::Options options;
  options.location = ResumeLocationFor(Env("VESPAR_CRASH_DOCUMENTS"), ApplicationTitle);
  options.listFinished = &listFinal;
  options.interval = std::chrono::milliseconds(300);
  FileResumeStore store(std::move(options));
  RecordingWindowSink sink;
  CDownloadManager manager;
  manager.SetWindow(&sink);
  manager.SetResumeStore(&store);
  manager.SetPartsAtOnceOverride(3);
  manager.SetMaxPartSize(kPart);
  manager.downloadFolder = FromUtf8(Env("VESPAR_CRASH_FOLDER"));
  ASSERT_TRUE(manager.Start(nullptr, true));
  auto item = std::make_unique<std::u16string>(FromUtf8(url));
  ASSERT_TRUE(PostThreadRecord(manager.threadId(), MGRM_ADD_ITEM, 0, item));
  ASSERT_GE(sink.WaitFor(DLGN_ITEM_PROBED), 0);
  ASSERT_TRUE(PostThreadMessage(manager.threadId(), MGRM_START, 0, 0));
  ASSERT_GE(sink.WaitFor(DLGN_ALL_COMPLETE, 0, std::chrono::seconds(120)), 0);
  manager.Quit();
}

class EngineCrashTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    location_ = ResumeLocationFor(dir_ + "/documents/", ApplicationTitle);
  }
  void TearDown() override {
    if (child_ > 0) Kill();
    EngineTest::TearDown();
  }

  void Spawn() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back("VESPAR_CRASH_URL=" + Url("/big.bin"));
    env.push_back("VESPAR_CRASH_FOLDER=" + download_dir_ + "/");
    env.push_back("VESPAR_CRASH_DOCUMENTS=" + dir_ + "/documents/");
    std::vector<std::string> args = {"/proc/self/exe", kChildFilter,
                                     "--gtest_also_run_disabled_tests"};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string output = dir_ + "/child.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ASSERT_EQ(posix_spawn(&child_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  // The child's exit status (128 + signal when killed), -1 after the limit.
  int WaitChild(int limitMs) {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child_, 0));
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      int ready = poll(&p, 1, limitMs);
      close(pidfd);
      if (ready <= 0) return -1;
    }
    int status = 0;
    if (waitpid(child_, &status, 0) != child_) return -1;
    child_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Kill() {
    kill(child_, SIGKILL);
    EXPECT_EQ(WaitChild(60000), 128 + SIGKILL);
  }

  std::optional<ResumeDocument> OnDisk() const {
    if (!PosixFileSystem().Exists(location_.file)) return std::nullopt;
    return ParseResumeText(ReadFile(location_.file));
  }
  // The GETs a run starts with: the open ranges of the saved parts, or the
  // whole plan when nothing was saved.
  static std::vector<std::string> OpenRanges(const std::optional<ResumeDocument>& doc) {
    std::vector<std::string> ranges;
    if (!doc) {
      for (int64_t k = 0; k < 3; ++k)
        ranges.push_back("bytes=" + std::to_string(k * kPart) + "-" +
                         std::to_string((k + 1) * kPart - 1));
    } else {
      for (const ResumeEntry& e : doc->entries) {
        if (e.currentOffset <= e.endOffset)
          ranges.push_back("bytes=" + std::to_string(e.currentOffset) + "-" +
                           std::to_string(e.endOffset));
      }
    }
    std::sort(ranges.begin(), ranges.end());
    return ranges;
  }
  std::vector<std::string> SortedGets() const {
    std::vector<std::string> ranges = GetRanges("/big.bin");
    std::sort(ranges.begin(), ranges.end());
    return ranges;
  }

  ResumeLocation location_;
  pid_t child_ = -1;
};

TEST_F(EngineCrashTest, ThreePartsKilledTwiceFinishIntact) {
  const std::string content = TestBytes(kSize, 51);
  server_->AddFile("/big.bin", content);
  server_->SetRateLimit(96 * 1024);  // each part takes close to three seconds

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const std::optional<ResumeDocument> before = OnDisk();
    const std::vector<std::string> expected = OpenRanges(before);
    server_->ClearLog();
    const int64_t sent = server_->BytesSent();
    Spawn();
    // The probe and one GET per open range, then a while of data.
    ASSERT_TRUE(server_->WaitForRequests(1 + expected.size(), 60000));
    ASSERT_TRUE(server_->WaitForBytesSent(sent + 160 * 1024, 60000));
    Kill();
    EXPECT_EQ(SortedGets(), expected);

    // What the checkpoint recorded is on disk, part by part.
    std::optional<ResumeDocument> doc = OnDisk();
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->entries.size(), 3u);
    const std::string partFile = ReadFile(LocalPath("big.bin.tmp"));
    for (const ResumeEntry& e : doc->entries) {
      SCOPED_TRACE(e.partIndex);
      EXPECT_TRUE(e.hasStamp);
      EXPECT_TRUE(e.state == PART_STOPPED || e.state == PART_COMPLETE) << e.state;
      ASSERT_GE(static_cast<int64_t>(partFile.size()), e.currentOffset);
      EXPECT_TRUE(partFile.compare(e.startOffset, e.currentOffset - e.startOffset, content,
                                   e.startOffset, e.currentOffset - e.startOffset) == 0);
    }
    // Progress was saved in this run, not only at its start.
    int64_t saved = 0;
    for (const ResumeEntry& e : doc->entries) saved += e.currentOffset - e.startOffset;
    int64_t savedBefore = 0;
    if (before) {
      for (const ResumeEntry& e : before->entries) savedBefore += e.currentOffset - e.startOffset;
    }
    EXPECT_GT(saved, savedBefore);
  }

  // The last run completes with the source's bytes and leaves no resume file.
  const std::vector<std::string> expected = OpenRanges(OnDisk());
  server_->ClearLog();
  server_->SetRateLimit(0);
  Spawn();
  ASSERT_EQ(WaitChild(120000), 0) << ReadFile(dir_ + "/child.txt");
  EXPECT_EQ(SortedGets(), expected);
  EXPECT_TRUE(ReadFile(LocalPath("big.bin")) == content);
  EXPECT_FALSE(Exists("big.bin.tmp"));
  EXPECT_FALSE(OnDisk());
}

}  // namespace
}  // namespace vespar::engine_testing
