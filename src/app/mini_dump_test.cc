#include "src/app/mini_dump.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vespar {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The crash program sits beside this test binary.
std::string CrashProgram() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/')) + "/crash_on_worker";
}

struct CrashRun {
  int status = 0;
  std::string out;  // standard output
};

class MiniDumpTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-crash-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    report_ = root_ + "/RiVizaVudiduve.dmp";
  }
  void TearDown() override {
    std::string command = "rm -rf '" + root_ + "'";
    (void)std::system(command.c_str());
  }

  // Runs the crash program in its own home and XDG folders, without a core
  // file, with the sanitizer's own fault handlers out of the way.
  CrashRun Run(const char* mode) {
    CrashRun run;
    std::string program = CrashProgram();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return run;
    std::string asan = "ASAN_OPTIONS=";
    if (const char* old = std::getenv("ASAN_OPTIONS")) asan += std::string(old) + ":";
    asan += "handle_segv=0:handle_abort=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0";
    std::vector<std::string> env = {
        "HOME=" + root_, "XDG_DOCUMENTS_DIR=" + root_ + "/Documents",
        "XDG_STATE_HOME=" + root_ + "/state", "XDG_RUNTIME_DIR=" + root_ + "/run",
        "PATH=/usr/bin:/bin", asan};
    pid_t child = ::fork();
    if (child == 0) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      struct rlimit noCore = {0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);
      std::vector<char*> envp;
      for (std::string& e : env) envp.push_back(e.data());
      envp.push_back(nullptr);
      const char* argv[] = {program.c_str(), report_.c_str(), mode, nullptr};
      ::execve(program.c_str(), const_cast<char* const*>(argv), envp.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, n);
    ::close(pipeFds[0]);
    ::waitpid(child, &run.status, 0);
    return run;
  }

  std::string root_;
  std::string report_;
};

TEST_F(MiniDumpTest, CrashOnWorkerThreadLeavesAReportAndDiesBySignal) {
  // An older report is replaced, not appended to.
  std::ofstream(report_) << std::string(100000, 'o') << "OLD REPORT";
  static const struct {
    const char* mode;
    int signo;
    const char* name;
  } kCases[] = {
      {"segv", SIGSEGV, "SIGSEGV"},
      {"abort", SIGABRT, "SIGABRT"},
      {"overflow", SIGSEGV, "SIGSEGV"},  // needs the worker's own signal stack
      {"chained", SIGSEGV, "SIGSEGV"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mode);
    CrashRun run = Run(c.mode);
    ASSERT_TRUE(WIFSIGNALED(run.status)) << "status " << run.status << ", output " << run.out;
    EXPECT_EQ(c.signo, WTERMSIG(run.status));
    long tid = std::atol(run.out.c_str());
    ASSERT_GT(tid, 0) << run.out;

    std::string report = ReadAll(report_);
    EXPECT_EQ(std::string::npos, report.find("OLD REPORT"));
    EXPECT_NE(std::string::npos,
              report.find("signal " + std::to_string(c.signo) + " (" + c.name + ")"))
        << report.substr(0, 400);
    EXPECT_NE(std::string::npos, report.find("\nthread " + std::to_string(tid) + " ("))
        << report.substr(0, 400);
    EXPECT_NE(std::string::npos, report.find("\nbacktrace\n  0x"));
    // The module list names the program itself.
    size_t modules = report.find("\nmodules\n");
    ASSERT_NE(std::string::npos, modules);
    EXPECT_NE(std::string::npos, report.find("crash_on_worker", modules));
    if (std::strcmp(c.mode, "segv") == 0) {
      EXPECT_NE(std::string::npos, report.find("\naddress 0x0000000000000000\n"));
    }
    if (std::strcmp(c.mode, "chained") == 0) {
      EXPECT_NE(std::string::npos, run.out.find("chained filter ran"));
    }
    std::ofstream(report_) << "OLD REPORT";
  }
}

TEST_F(MiniDumpTest, DestructionPutsBackThePreviousHandlers) {
  struct sigaction mine = {};
  mine.sa_handler = [](int) {};
  sigemptyset(&mine.sa_mask);
  struct sigaction saved;
  ASSERT_EQ(0, ::sigaction(SIGBUS, &mine, &saved));
  {
    CMiniDump dump(report_.c_str());
    ASSERT_TRUE(dump.Install(nullptr));
    struct sigaction now;
    ASSERT_EQ(0, ::sigaction(SIGBUS, nullptr, &now));
    EXPECT_NE(mine.sa_handler, now.sa_handler);
    EXPECT_TRUE(now.sa_flags & SA_ONSTACK);

    // Only one writer at a time.
    CMiniDump second(report_.c_str());
    EXPECT_FALSE(second.Install(nullptr));
  }
  struct sigaction after;
  ASSERT_EQ(0, ::sigaction(SIGBUS, nullptr, &after));
  EXPECT_EQ(mine.sa_handler, after.sa_handler);
  ::sigaction(SIGBUS, &saved, nullptr);

  // With the first gone, another may install.
  CMiniDump third(nullptr);
  EXPECT_TRUE(third.Install(nullptr));
}

TEST_F(MiniDumpTest, DumpPath) {
  CMiniDump dump("/first/RiVizaVudiduve.dmp");
  dump.SetDumpPath(nullptr);
  EXPECT_STREQ("/first/RiVizaVudiduve.dmp", dump.dumpPath());
  std::string tooLong(PATH_MAX, 'x');
  dump.SetDumpPath(tooLong.c_str());
  EXPECT_STREQ("/first/RiVizaVudiduve.dmp", dump.dumpPath());
  dump.SetDumpPath("/second/RiVizaVudiduve.dmp");
  EXPECT_STREQ("/second/RiVizaVudiduve.dmp", dump.dumpPath());
}

}  // namespace
}  // namespace vespar
