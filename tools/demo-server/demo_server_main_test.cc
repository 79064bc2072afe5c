// Runs the real vespar-demo-server binary: it prints its configuration URL,
// serves the tree it dumped, and exits 0 on SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/listing.h"
#include "tests/support/raw_client.h"
#include "tools/demo-server/demo_tree.h"

namespace vespar::demo {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

fs::path ServerBinary() {
  if (const char* dir = std::getenv("VESPAR_BINARY_DIR")) return fs::path(dir) / "bin" / "vespar-demo-server";
  // Run by hand from <build>/tests: the binary is in <build>/bin.
  return fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / "vespar-demo-server";
}

class DemoServerBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-demo-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* d : {"home", "documents", "state", "runtime", "dump", "run"})
      fs::create_directories(root_ / d);
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_fd_ >= 0) close(stdout_fd_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Starts the server with its own HOME and XDG folders; standard output
  // comes back through a pipe.
  void Launch(const std::vector<std::string>& args) {
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    std::vector<std::string> env = {
        "HOME=" + (root_ / "home").string(),
        "XDG_DOCUMENTS_DIR=" + (root_ / "documents").string(),
        "XDG_STATE_HOME=" + (root_ / "state").string(),
        "XDG_RUNTIME_DIR=" + (root_ / "runtime").string(),
        "PATH=/usr/bin:/bin",
    };
    std::vector<std::string> argv = {ServerBinary().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      std::vector<char*> a, e;
      for (auto& s : argv) a.push_back(s.data());
      for (auto& s : env) e.push_back(s.data());
      a.push_back(nullptr);
      e.push_back(nullptr);
      execve(a[0], a.data(), e.data());
      _exit(127);
    }
    close(out[1]);
    stdout_fd_ = out[0];
  }

  // The first line of standard output, waiting at most timeout_ms.
  std::string ReadLine(int timeout_ms) {
    std::string line;
    char c;
    while (line.empty() || line.back() != '\n') {
      pollfd p = {stdout_fd_, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) <= 0) return line;
      if (read(stdout_fd_, &c, 1) != 1) return line;
      line.push_back(c);
    }
    line.pop_back();
    return line;
  }

  // Exit status after SIGTERM, or -1 when the process is still running
  // after timeout_ms.
  int TerminateAndWait(int timeout_ms) {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    kill(pid_, SIGTERM);
    if (pidfd >= 0) {
      pollfd p = {pidfd, POLLIN, 0};
      int ready = poll(&p, 1, timeout_ms);
      close(pidfd);
      if (ready <= 0) return -1;
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path root_;
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
};

TEST_F(DemoServerBinaryTest, PrintsConfigUrlServesTheDumpedTreeAndStopsOnSigterm) {
  Launch({"--port", "0", "--print-config-url", "--size-scale", "0.05", "--dump",
          (root_ / "dump").string()});
  const std::string url = ReadLine(60000);
  const std::string prefix = "http://127.0.0.1:";
  ASSERT_EQ(url.substr(0, prefix.size()), prefix) << url;
  ASSERT_EQ(url.substr(url.size() - 11), "/vespar.ini") << url;
  const int port = std::atoi(url.c_str() + prefix.size());
  ASSERT_GT(port, 0);

  const std::string dumped_config = ReadFile(root_ / "dump" / "vespar.ini");
  EXPECT_EQ(dumped_config, DemoConfiguration("127.0.0.1", static_cast<uint16_t>(port)));
  testing::RawResponse config = testing::Exchange(
      "127.0.0.1", static_cast<uint16_t>(port), "GET /vespar.ini HTTP/1.0\r\n\r\n");
  EXPECT_EQ(config.Body(), dumped_config);

  // Every dumped file is the file served at the same (wire code page) path.
  DemoTree tree = BuildDemoTree(DemoOptions{"127.0.0.1", static_cast<uint16_t>(port), 0.05});
  for (const DemoFile& f : tree.files) {
    SCOPED_TRACE(f.link_path);
    std::string dumped = ReadFile(root_ / "dump" / f.link_path.substr(1));
    testing::RawResponse served = testing::Exchange(
        "127.0.0.1", static_cast<uint16_t>(port), "GET " + testing::PercentEncodePath(f.server_path) + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(dumped.size(), f.content.size());
    EXPECT_TRUE(served.Body() == dumped);
  }

  EXPECT_EQ(TerminateAndWait(60000), 0);
}

TEST_F(DemoServerBinaryTest, LaunchScriptLeavesItsMarkInTheWorkingFolder) {
  DemoTree tree = BuildDemoTree(DemoOptions{});
  const DemoFile* setup = nullptr;
  for (const DemoFile& f : tree.files) {
    if (f.local_path == "patch/setup.sh") setup = &f;
  }
  ASSERT_NE(setup, nullptr);
  fs::path script = root_ / "setup.sh";
  std::ofstream(script, std::ios::binary) << setup->content;
  fs::permissions(script, fs::perms::owner_exec, fs::perm_options::add);
  // Started directly, as the downloader starts it: the "#!" line picks the shell.
  std::string command = "cd '" + (root_ / "run").string() + "' && '" + script.string() + "' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(root_ / "run" / "launched.txt"), "launched\n");
}

TEST_F(DemoServerBinaryTest, BadOptionExitsWithUsageError) {
  Launch({"--port", "nope"});
  EXPECT_EQ(ReadLine(60000), "");  // nothing on standard output
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace vespar::demo
