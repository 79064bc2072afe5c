#include "src/app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace vespar {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A process started with posix_spawn, killed and reaped at the end. Its
// standard output is a pipe the test can wait on.
class Process {
 public:
  explicit Process(std::vector<std::string> argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~Process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  bool started() const { return pid_ > 0; }
  // Waits (bounded) until the process has written a line.
  bool WaitForOutput() {
    pollfd p{out_, POLLIN, 0};
    char c;
    return poll(&p, 1, 30000) == 1 && read(out_, &c, 1) == 1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

class SingleInstanceTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    lock_path_ = (root_ / "run" / "Vespar Downloader.lock").string();
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
  std::string lock_path_;
};

TEST_F(SingleInstanceTest, LockFileIsNamedAfterTheTitleInTheRuntimeFolder) {
  const std::string home = (root_ / "home").string();
  const std::string runtime = (root_ / "runtime").string();
  const std::string state = (root_ / "state").string();
  static const struct {
    const char* runtime;  // XDG_RUNTIME_DIR, null: unset
    std::u16string_view title;
    std::string expected;
  } kCases[] = {
      {runtime.c_str(), u"Vespar Downloader", runtime + "/Vespar Downloader.lock"},
      {nullptr, u"Vespar Downloader", state + "/vespar-downloader/Vespar Downloader.lock"},
      // A relative value is no runtime folder.
      {"relative/run", u"Vespar Downloader", state + "/vespar-downloader/Vespar Downloader.lock"},
      {runtime.c_str(), u"a/b\x01" u"c", runtime + "/a_b_c.lock"},
      {runtime.c_str(), u"..", runtime + "/vespar-downloader.lock"},
      {runtime.c_str(), u"", runtime + "/vespar-downloader.lock"},
      {runtime.c_str(), u"바람", runtime + "/바람.lock"},
  };
  ScopedEnv home_env("HOME", home.c_str());
  ScopedEnv state_env("XDG_STATE_HOME", state.c_str());
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.expected);
    ScopedEnv runtime_env("XDG_RUNTIME_DIR", c.runtime);
    EXPECT_EQ(InstanceLockPath(c.title), c.expected);
  }
}

TEST_F(SingleInstanceTest, SecondLockIsRefusedUntilTheFirstIsReleased) {
  SingleInstanceLock first;
  ASSERT_EQ(first.Acquire(lock_path_), SingleInstanceLock::Result::kAcquired) << first.error();
  EXPECT_TRUE(first.held());
  EXPECT_TRUE(fs::exists(lock_path_));  // its folder was made

  SingleInstanceLock second;
  EXPECT_EQ(second.Acquire(lock_path_), SingleInstanceLock::Result::kHeldElsewhere);
  EXPECT_FALSE(second.held());

  first.Release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(second.Acquire(lock_path_), SingleInstanceLock::Result::kAcquired);
}

TEST_F(SingleInstanceTest, DestroyingTheHolderReleasesTheLock) {
  auto holder = std::make_unique<SingleInstanceLock>();
  ASSERT_EQ(holder->Acquire(lock_path_), SingleInstanceLock::Result::kAcquired);
  SingleInstanceLock other;
  EXPECT_EQ(other.Acquire(lock_path_), SingleInstanceLock::Result::kHeldElsewhere);
  holder.reset();
  EXPECT_EQ(other.Acquire(lock_path_), SingleInstanceLock::Result::kAcquired);
}

TEST_F(SingleInstanceTest, LockHeldByAnotherProcessIsSeen) {
  fs::create_directories(fs::path(lock_path_).parent_path());
  // util-linux flock(1) takes the same kind of lock on the same file.
  Process holder({"flock", "--exclusive", lock_path_, "sh", "-c", "echo locked; exec sleep 60"});
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(holder.WaitForOutput());
  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire(lock_path_), SingleInstanceLock::Result::kHeldElsewhere);
}

TEST_F(SingleInstanceTest, ProgramsStartedByTheHolderDoNotKeepTheLock) {
  SingleInstanceLock lock;
  ASSERT_EQ(lock.Acquire(lock_path_), SingleInstanceLock::Result::kAcquired);
  // A launched program outlives the downloader; it must not inherit the lock.
  Process child({"sh", "-c", "echo started; exec sleep 60"});
  ASSERT_TRUE(child.started());
  ASSERT_TRUE(child.WaitForOutput());
  lock.Release();
  SingleInstanceLock next;
  EXPECT_EQ(next.Acquire(lock_path_), SingleInstanceLock::Result::kAcquired);
}

TEST_F(SingleInstanceTest, UnusableLockFolderIsReportedNotFatal) {
  // A regular file where the folder should be: nothing can be created below.
  std::ofstream(root_ / "file") << "x";
  SingleInstanceLock lock;
  EXPECT_EQ(lock.Acquire((root_ / "file" / "sub" / "x.lock").string()),
            SingleInstanceLock::Result::kUnavailable);
  EXPECT_FALSE(lock.held());
  EXPECT_NE(lock.error().find("file/sub/x.lock"), std::string::npos) << lock.error();
}

}  // namespace
}  // namespace vespar
