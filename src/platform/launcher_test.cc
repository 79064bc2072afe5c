#include "src/platform/launcher.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace vespar {
namespace {

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-launch-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* path = getenv("PATH");
    saved_path_ = path ? path : "";
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static int Reap(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // A stand-in for the desktop's opener: records its argument and working folder.
  void InstallFakeOpener() {
    ASSERT_EQ(mkdir((dir_ + "/bin").c_str(), 0755), 0);
    WriteFile(dir_ + "/bin/xdg-open",
              "#!/bin/sh\necho \"$1|$(pwd)\" > '" + dir_ + "/opened'\n", 0755);
    setenv("PATH", (dir_ + "/bin:" + saved_path_).c_str(), 1);
  }

  std::string dir_;
  std::string saved_path_;
};

TEST_F(LauncherTest, RunsTheFileInTheFolderAfterSettingOnlyTheOwnersExecuteBit) {
  std::string script = dir_ + "/setup.sh";
  WriteFile(script, "#!/bin/sh\npwd > ran.txt\n", 0640);
  pid_t pid = -1;
  ASSERT_EQ(RunDetached(script, dir_, &pid), 0);
  ASSERT_EQ(Reap(pid), 0);
  EXPECT_EQ(Read(dir_ + "/ran.txt"), dir_ + "\n");
  struct stat st;
  ASSERT_EQ(stat(script.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0740u);
}

// The downloader ignores SIGPIPE and blocks signals on some threads; the
// program it starts must not inherit either, nor the downloader's output,
// which may be a pipe that closes when the downloader ends.
TEST_F(LauncherTest, StartedProgramIsDetachedFromTheDownloadersSignalsAndOutput) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous = {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &previous), 0);
  sigset_t blocked, old_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &old_mask), 0);

  std::string script = dir_ + "/setup.sh";
  WriteFile(script,
            "#!/bin/sh\ngrep -E '^Sig(Ign|Blk)' /proc/self/status > signals.txt\n"
            "out=$(readlink /proc/$$/fd/1 /proc/$$/fd/2)\necho \"$out\" > output.txt\n",
            0700);
  pid_t pid = -1;
  const int error = RunDetached(script, dir_, &pid);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGPIPE, &previous, nullptr);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(Reap(pid), 0);

  // Masks are hexadecimal with bit (n - 1) for signal n.
  std::istringstream lines(Read(dir_ + "/signals.txt"));
  std::string name, mask;
  int seen = 0;
  while (lines >> name >> mask) {
    SCOPED_TRACE(name + " " + mask);
    const unsigned long long bits = std::stoull(mask, nullptr, 16);
    if (name == "SigIgn:") {
      EXPECT_EQ(bits & (1ull << (SIGPIPE - 1)), 0u);
    } else if (name == "SigBlk:") {
      EXPECT_EQ(bits & (1ull << (SIGTERM - 1)), 0u);
    }
    ++seen;
  }
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(Read(dir_ + "/output.txt"), "/dev/null\n/dev/null\n");
}

TEST_F(LauncherTest, ReportsWhyAFileCannotRun) {
  WriteFile(dir_ + "/notes.txt", "just text, no program\n", 0644);
  static const struct {
    const char* name;
    int error;
  } kCases[] = {
      {"/notes.txt", ENOEXEC},
      {"/missing.sh", ENOENT},
      {"", EACCES},  // the folder itself
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunDetached(dir_ + c.name, dir_), c.error);
  }
  EXPECT_EQ(RunDetached("relative.sh", dir_), EINVAL);
}

TEST_F(LauncherTest, OpensTheFolderWhenTheFileCannotRun) {
  InstallFakeOpener();
  WriteFile(dir_ + "/notes.txt", "text\n", 0644);
  int error = 0;
  EXPECT_EQ(LaunchOrOpenFolder(dir_ + "/notes.txt", dir_, &error),
            LaunchOutcome::kOpenedFolder);
  EXPECT_EQ(error, ENOEXEC);
  // The opener is this process's only child: wait for it to end.
  int status = 0;
  ASSERT_GT(waitpid(-1, &status, 0), 0);
  EXPECT_EQ(Read(dir_ + "/opened"), dir_ + "|" + dir_ + "\n");
}

TEST_F(LauncherTest, NoOpenerMeansFailure) {
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(OpenFolder(dir_), ENOENT);
  EXPECT_EQ(LaunchOrOpenFolder(dir_ + "/missing", dir_), LaunchOutcome::kFailed);
}

}  // namespace
}  // namespace vespar
