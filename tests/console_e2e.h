#pragma once

// Running vespar-console end to end: child processes with their own HOME and
// XDG folders, the demo server, file checks (SHA-256 through coreutils'
// sha256sum) and a bounded wait for a file to appear.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace vespar::e2e {

namespace fs = std::filesystem;

constexpr int kRunLimitMs = 120000;

inline fs::path BinaryDir() {
  if (const char* dir = std::getenv("VESPAR_BINARY_DIR"); dir && *dir) return dir;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

inline std::string ConsoleBinary() { return (BinaryDir() / "bin" / "vespar-console").string(); }

// A temporary folder removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vespar-console-XXXXXX").string();
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

// Our environment without the variables that steer the program, and HOME
// and the XDG folders inside `home`. Two children given the same `home`
// share the runtime folder, so they see each other's instance lock.
inline std::vector<std::string> ChildEnvironment(
    const fs::path& home, const std::map<std::string, std::string>& extra = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (name == "VESPAR_CONFIG_URL" || name == "HOME" || name.rfind("XDG_", 0) == 0) continue;
    env.push_back(entry);
  }
  for (const char* sub : {"documents", "state", "runtime", "config"}) fs::create_directories(home / sub);
  fs::permissions(home / "runtime", fs::perms::owner_all);
  env.push_back("HOME=" + home.string());
  env.push_back("XDG_DOCUMENTS_DIR=" + (home / "documents").string());
  env.push_back("XDG_STATE_HOME=" + (home / "state").string());
  env.push_back("XDG_RUNTIME_DIR=" + (home / "runtime").string());
  env.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

// A child process with standard input from /dev/null and its standard output
// and error on pipes. Killed and reaped when destroyed.
class Child {
 public:
  Child(std::vector<std::string> argv, std::vector<std::string> env) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
      close(out[0]);
      close(out[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args = Pointers(argv);
    std::vector<char*> envp = Pointers(env);
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
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  void Signal(int signo) {
    if (pid_ > 0) kill(pid_, signo);
  }

  // Reads standard output until a whole line has arrived. False at its end
  // or after the limit.
  bool ReadLine(std::string* line, int limit_ms = 30000) {
    auto deadline = Deadline(limit_ms);
    while (out_.find('\n') == std::string::npos) {
      if (out_fd_ < 0 || std::chrono::steady_clock::now() >= deadline) return false;
      ReadAvailable(Left(deadline), -1);
    }
    size_t feed = out_.find('\n');
    *line = out_.substr(0, feed);
    out_.erase(0, feed + 1);
    return true;
  }

  // Waits until the child has exited, reading its output meanwhile, and
  // returns its exit status, 128 + the signal that ended it, or -1 when it
  // was still running after the limit. Output that programs it started in
  // the background write later is not waited for.
  int Wait(int limit_ms = kRunLimitMs) {
    if (pid_ <= 0) return status_;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    auto deadline = Deadline(limit_ms);
    while (true) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        while (ReadAvailable(0, -1)) {
        }
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      // The pidfd becomes readable when the child ends; without one, look
      // again every 50 ms.
      ReadAvailable(pidfd >= 0 ? Left(deadline) : std::min(Left(deadline), 50), pidfd);
    }
    if (pidfd >= 0) close(pidfd);
    return pid_ > 0 ? -1 : status_;
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  static std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
  }
  static std::chrono::steady_clock::time_point Deadline(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  }
  static int Left(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
  }

  // One poll of both pipes (and `extra`, when not -1) and one read of each
  // readable pipe. True when output was read.
  bool ReadAvailable(int timeout_ms, int extra) {
    pollfd fds[3] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}, {extra, POLLIN, 0}};
    if (poll(fds, 3, timeout_ms) <= 0) return false;
    bool read_any = false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      int& fd = i == 0 ? out_fd_ : err_fd_;
      if (n <= 0) {
        close(fd);
        fd = -1;
      } else {
        (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
        read_any = true;
      }
    }
    return read_any;
  }

  pid_t pid_ = -1;
  int status_ = -1;
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

// Runs vespar-console with `args` in the home `home` and waits for its end.
inline RunResult RunConsole(const fs::path& home, std::vector<std::string> args,
                            const std::map<std::string, std::string>& env = {}) {
  args.insert(args.begin(), ConsoleBinary());
  Child child(args, ChildEnvironment(home, env));
  RunResult result;
  result.status = child.Wait();
  result.out = child.out();
  result.err = child.err();
  return result;
}

inline void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every regular file below `root`, relative, sorted.
inline std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_directory()) files.push_back(fs::relative(it->path(), root).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The part files left below `root`.
inline std::vector<std::string> PartFilesBelow(const fs::path& root) {
  std::vector<std::string> parts;
  for (const std::string& f : FilesBelow(root)) {
    if (f.size() > 4 && f.compare(f.size() - 4, 4, ".tmp") == 0) parts.push_back(f);
  }
  return parts;
}

// SHA-256 of a file in hexadecimal, from coreutils' sha256sum; empty when
// it cannot be computed.
inline std::string Sha256Of(const fs::path& file) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  Child sum({"/usr/bin/sha256sum", "--binary", "--", file.string()}, env);
  if (sum.Wait(60000) != 0) return {};
  std::string out = sum.out();
  // An escaped name makes the line start with "\".
  if (!out.empty() && out[0] == '\\') out.erase(0, 1);
  return out.size() >= 64 ? out.substr(0, 64) : std::string();
}

// Waits until `file` exists, watching its folder; false after the limit.
inline bool WaitForFile(const fs::path& file, int limit_ms = 30000) {
  int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) return fs::exists(file);
  inotify_add_watch(watch, file.parent_path().c_str(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  bool found = false;
  while (!(found = fs::exists(file))) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{watch, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
  return found || fs::exists(file);
}

// The demo server on a port of its own, its files dumped below `dump`.
class DemoServer {
 public:
  DemoServer(const fs::path& home, const fs::path& dump, std::vector<std::string> extra = {})
      : child_(Arguments(dump, std::move(extra)), ChildEnvironment(home)) {
    if (child_.started()) child_.ReadLine(&config_url_);
  }
  ~DemoServer() {
    child_.Signal(SIGTERM);
    child_.Wait(30000);
  }

  const std::string& config_url() const { return config_url_; }

 private:
  static std::vector<std::string> Arguments(const fs::path& dump, std::vector<std::string> extra) {
    std::vector<std::string> args = {(BinaryDir() / "bin" / "vespar-demo-server").string(),
                                     "--print-config-url", "--dump", dump.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  Child child_;
  std::string config_url_;
};

}  // namespace vespar::e2e
