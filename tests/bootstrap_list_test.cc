// vespar-console --list end to end: the real binary against the demo server,
// the in-process test server and nginx serving pre-generated listings.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/net/connection.h"
#include "src/net/head_probe.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "tests/support/nginx.h"
#include "tests/support/test_server.h"

extern char** environ;

namespace vespar {
namespace {

namespace fs = std::filesystem;
using testing::TestServer;

constexpr int kRunLimitMs = 120000;

fs::path BinaryDir() {
  if (const char* dir = std::getenv("VESPAR_BINARY_DIR"); dir && *dir) return dir;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

// A temporary folder removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vespar-e2e-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The environment of a child: ours without the variables that steer the
// program, and HOME and the XDG folders inside `home`.
std::vector<std::string> ChildEnvironment(const fs::path& home,
                                          const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (name == "VESPAR_CONFIG_URL" || name == "HOME" || name.rfind("XDG_", 0) == 0) continue;
    env.push_back(entry);
  }
  for (const char* sub : {"documents", "state", "runtime", "config"}) fs::create_directories(home / sub);
  env.push_back("HOME=" + home.string());
  env.push_back("XDG_DOCUMENTS_DIR=" + (home / "documents").string());
  env.push_back("XDG_STATE_HOME=" + (home / "state").string());
  env.push_back("XDG_RUNTIME_DIR=" + (home / "runtime").string());
  env.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// A child process with its standard output and error on pipes.
class Child {
 public:
  Child(std::vector<std::string> argv, std::vector<std::string> env) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    auto args = Pointers(argv);
    auto envp = Pointers(env);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
  }
  bool started() const { return pid_ > 0; }

  // Reads standard output until a whole line has arrived. False on end of
  // output or after the limit.
  bool ReadLine(std::string* line, int limit_ms = 30000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (out_.find('\n') == std::string::npos) {
      if (!ReadSome(deadline, true)) return false;
    }
    size_t feed = out_.find('\n');
    *line = out_.substr(0, feed);
    out_.erase(0, feed + 1);
    return true;
  }

  // Reads both outputs to their end and waits for the exit. The exit status,
  // or -1 when the child did not end within the limit (it is then killed).
  int Finish(int limit_ms = kRunLimitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (out_fd_ >= 0 || err_fd_ >= 0) {
      if (!ReadSome(deadline, false)) break;
    }
    if (out_fd_ >= 0 || err_fd_ >= 0) return -1;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Asks the child to stop and waits for it.
  void Terminate() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    Finish(30000);
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  // Readable at the child's end (its standard error reaches end of file).
  int err_fd() const { return err_fd_; }

 private:
  // One poll and read; false at the deadline or when nothing is left to
  // read (of standard output only, when `out_only`).
  bool ReadSome(std::chrono::steady_clock::time_point deadline, bool out_only) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {out_only ? -1 : err_fd_, POLLIN, 0}};
    if (fds[0].fd < 0 && fds[1].fd < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(fds, 2, static_cast<int>(left.count())) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      int& fd = i == 0 ? out_fd_ : err_fd_;
      if (n <= 0) {
        close(fd);
        fd = -1;
        if (i == 0 && out_only) return false;
      } else {
        (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vespar-console with `args` in a fresh home below `home`.
RunResult RunConsole(const fs::path& home, std::vector<std::string> args,
                     const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), (BinaryDir() / "bin" / "vespar-console").string());
  Child child(args, ChildEnvironment(home, env));
  EXPECT_TRUE(child.started());
  RunResult result;
  result.status = child.Finish();
  result.out = child.out();
  result.err = child.err();
  return result;
}

// Every regular file below `root`, relative.
std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), root).string());
  }
  return files;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// The demo server on a port of its own, stopped at the end.
class DemoServer {
 public:
  explicit DemoServer(const fs::path& home)
      : child_({(BinaryDir() / "bin" / "vespar-demo-server").string(), "--print-config-url"},
               ChildEnvironment(home, {})) {
    if (child_.started()) child_.ReadLine(&config_url_);
  }
  ~DemoServer() { child_.Terminate(); }

  const std::string& config_url() const { return config_url_; }
  // "http://127.0.0.1:PORT/"
  std::string base() const { return config_url_.substr(0, config_url_.rfind('/') + 1); }

 private:
  Child child_;
  std::string config_url_;
};

std::vector<std::string> DemoList(const std::string& base) {
  // The demo configuration lists client/*.* (files in the order the listing
  // links them; its sub-folder is not followed) and two single files.
  return {base + "/client/large.bin",      base + "/client/medium.bin",
          base + "/client/read me.txt",    base + "/client/small.dat",
          base + "/client/한글파일.dat", base + "patch/readme.txt",
          base + "patch/setup.sh"};
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}


TEST(BootstrapListTest, ListsTheDemoTree) {
  TempDir temp;
  DemoServer demo(temp.path() / "server-home");
  ASSERT_FALSE(demo.config_url().empty());
  const std::string expected = Lines(DemoList(demo.base()));

  RunResult flag = RunConsole(temp.path() / "a", {"--list", "--config-url", demo.config_url()});
  EXPECT_EQ(flag.status, 0) << flag.err;
  EXPECT_EQ(flag.out, expected);
  EXPECT_EQ(flag.err, "");

  RunResult env = RunConsole(temp.path() / "b", {"--list"}, {{"VESPAR_CONFIG_URL", demo.config_url()}});
  EXPECT_EQ(env.status, 0) << env.err;
  EXPECT_EQ(env.out, expected);

  // The flag wins over the environment.
  RunResult both = RunConsole(temp.path() / "c", {"--list", "--config-url", demo.config_url()},
                              {{"VESPAR_CONFIG_URL", "http://127.0.0.1:1/vespar.ini"}});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out, expected);
}

TEST(BootstrapListTest, UnreachableConfigurationIsOneLineAndAFailure) {
  TempDir temp;
  TestServer closed;
  ASSERT_TRUE(closed.Start());
  const std::string url = closed.Url("/vespar.ini");
  closed.Stop();
  RunResult run = RunConsole(temp.path(), {"--list", "--config-url", url});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "DownList Failed: 통신 실패 : 12007  네트워크 환경을 확인바랍니다.\n");
}

TEST(BootstrapListTest, ErrorStatusOfTheConfigurationIsShown) {
  TempDir temp;
  TestServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("/vespar.ini", "r\nhttp://h/\na.exe\n");
  testing::Fault fault;
  fault.status = 503;
  server.SetFault("/vespar.ini", fault);
  RunResult run = RunConsole(temp.path(), {"--list", "--config-url", server.Url("/vespar.ini")});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "DownList Failed: 통신 실패 : 503  네트워크 환경을 확인바랍니다.\n");
}

TEST(BootstrapListTest, UnsafeListingIsRefusedAndNothingIsWritten) {
  TempDir temp;
  TestServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("/vespar.ini", "r\r\n" + server.Url("/") + "\r\nclient/*.*\r\n\r\n");
  server.AddFile("/client/", "<A HREF=\"/client/good.dat\">good</A>"
                             "<A HREF=\"/client/..%2F..%2F.bashrc\">evil</A>");
  const fs::path home = temp.path() / "home";
  RunResult run = RunConsole(home, {"--list", "--config-url", server.Url("/vespar.ini")});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Failed...: Invalid file name ../../.bashrc- folder download\n");
  EXPECT_EQ(FilesBelow(home), std::vector<std::string>{});
  // Only the configuration and the listing were asked for.
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(BootstrapListTest, HelpAndBadFlags) {
  TempDir temp;
  RunResult help = RunConsole(temp.path(), {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--config-url URL"), std::string::npos);
  RunResult bad = RunConsole(temp.path(), {"--parts", "9"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_NE(bad.err.find("--parts"), std::string::npos);
}

// The content size the HEAD probe reports for `url`, or -1.
int64_t ProbeSize(const std::string& url) {
  const std::u16string url16 = FromUtf8(url);
  const std::u16string host = GetUrlHost(url16);
  Connection c;
  uint32_t address = 0;
  if (OpenSocket(c) != 0 || ResolveHost(host, &address) != 1 ||
      ConnectTimeout(c, GetUrlPort(host), address, 5000) != 0) {
    return -1;
  }
  int64_t size = HeadProbe(c, url16);
  return c.status == 200 ? size : -1;
}

TEST(BootstrapListTest, ListsFoldersServedByNginx) {
  TempDir temp;
  const fs::path files = temp.path() / "files";
  const fs::path listings = temp.path() / "listings";
  // nginx looks files up by the request's bytes, and the program asks in the
  // wire code page: the Korean file is stored under its CP949 name while
  // the listing links the UTF-8 name, as the publisher's server does.
  const std::string korean = ToWire(u"한글파일.dat");
  WriteFile(files / "client" / "a.dat", std::string(1000, 'a'));
  WriteFile(files / "client" / "read me.txt", "read me");
  WriteFile(files / "client" / korean, std::string(3000, 'k'));
  WriteFile(files / "client" / "sub" / "deep.dat", "deep");
  WriteFile(files / "patch" / "setup.sh", "#!/bin/sh\n");
  WriteFile(listings / "client" / "index.html",
            "<html><body><pre>"
            "<A HREF=\"/\">[To Parent Directory]</A><br>"
            "<A HREF=\"/client/sub/\">sub</A><br>"
            "<A HREF=\"/client/a.dat\">a.dat</A><br>"
            "<A HREF=\"/client/read%20me.txt\">read me.txt</A><br>"
            "<A HREF=\"/client/%ED%95%9C%EA%B8%80%ED%8C%8C%EC%9D%BC.dat\">kor</A><br>"
            "</pre></body></html>");

  testing::NginxServer nginx(files.string());
  nginx.SetServerDirectives("    location ~ /$ { root " + listings.string() +
                            "; try_files ${uri}index.html =404; }\n");
  std::string error;
  ASSERT_TRUE(nginx.Start(&error)) << error;
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/";
  WriteFile(files / "vespar.ini",
            "r\r\n" + base + "\r\nclient/*.*:patch/setup.sh\r\nsetup.sh\r\n");

  RunResult run = RunConsole(temp.path() / "home", {"--list", "--config-url", base + "vespar.ini"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> expected = {
      base + "/client/a.dat", base + "/client/read me.txt", base + "/client/한글파일.dat",
      base + "patch/setup.sh"};
  EXPECT_EQ(run.out, Lines(expected));

  // Every listed URL reaches its file the way the engine will ask for it.
  const int64_t sizes[] = {1000, 7, 3000, 10};
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(ProbeSize(expected[i]), sizes[i]);
  }
}

}  // namespace
}  // namespace vespar
