#include "tests/support/nginx.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vespar::testing {

namespace {

namespace fs = std::filesystem;

constexpr int kStartLimitMs = 20000;
constexpr int kStopLimitMs = 10000;
constexpr const char* kReadyPath = "/.vespar-nginx-ready";

// A single master with a single worker: the master forwards the inherited
// socket to the worker and ends it on SIGTERM.
constexpr const char* kConfigTemplate = R"(daemon off;
master_process on;
worker_processes 1;
@USER@
pid @PREFIX@/nginx.pid;
lock_file @PREFIX@/nginx.lock;
error_log @PREFIX@/error.log notice;
events { worker_connections 64; }
http {
  log_format request_line '$request';
  access_log @PREFIX@/access.log request_line;
  client_body_temp_path @PREFIX@/client_body;
  proxy_temp_path @PREFIX@/proxy;
  fastcgi_temp_path @PREFIX@/fastcgi;
  uwsgi_temp_path @PREFIX@/uwsgi;
  scgi_temp_path @PREFIX@/scgi;
  default_type application/octet-stream;
  server_tokens off;
  server {
    listen 127.0.0.1:@PORT@;
    root @ROOT@;
    location / { }
@EXTRA@
    location = @READY@ { access_log off; return 204; }
  }
}
)";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

int PidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

// Waits until `pid` has ended, at most timeout_ms; reaps it. True when it has.
bool WaitForExit(pid_t pid, int timeout_ms) {
  int pidfd = PidFd(pid);
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int n;
    do {
      n = ::poll(&p, 1, timeout_ms);
    } while (n < 0 && errno == EINTR);
    ::close(pidfd);
    if (n == 0) return false;
  }
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace

NginxServer::NginxServer(std::string root) : root_(std::move(root)) {}

NginxServer::~NginxServer() {
  Stop();
  if (!prefix_.empty()) {
    std::error_code ignored;
    fs::remove_all(prefix_, ignored);
  }
}

bool NginxServer::Start(std::string* error) {
  if (::access(kBinary, X_OK) != 0) {
    *error = std::string(kBinary) + " is missing: run scripts/deps";
    return false;
  }
  std::string pattern = (fs::temp_directory_path() / "vespar-nginx-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    *error = std::string("mkdtemp: ") + std::strerror(errno);
    return false;
  }
  prefix_ = pattern;

  // Inherited by nginx, so no close-on-exec.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, 128) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    *error = std::string("listening socket: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  port_ = ntohs(addr.sin_port);

  bool spawned = WriteConfig(error) && Spawn(fd, error);
  ::close(fd);  // nginx holds it now; if nginx dies, the port refuses
  if (!spawned) return false;
  if (!AnswersFirstRequest(error)) {
    Stop();
    *error += "\n" + NginxOutput();
    return false;
  }
  return true;
}

bool NginxServer::WriteConfig(std::string* error) {
  std::string config = kConfigTemplate;
  // As root, nginx would run its worker as "nobody", which cannot enter the
  // private folders of a test.
  ReplaceAll(config, "@USER@", ::geteuid() == 0 ? "user root;" : "");
  ReplaceAll(config, "@PREFIX@", prefix_);
  ReplaceAll(config, "@PORT@", std::to_string(port_));
  ReplaceAll(config, "@ROOT@", root_);
  ReplaceAll(config, "@READY@", kReadyPath);
  ReplaceAll(config, "@EXTRA@", server_directives_);
  std::ofstream out(prefix_ + "/nginx.conf", std::ios::binary);
  out << config;
  out.close();
  if (!out) *error = "cannot write " + prefix_ + "/nginx.conf";
  return static_cast<bool>(out);
}

bool NginxServer::Spawn(int listen_fd, std::string* error) {
  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls.
  std::string conf = prefix_ + "/nginx.conf";
  std::string error_log = prefix_ + "/error.log";
  std::vector<std::string> args = {kBinary, "-p", prefix_ + "/", "-c", conf, "-e", error_log};
  std::vector<std::string> env = {
      "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
      "HOME=" + prefix_,
      "XDG_DOCUMENTS_DIR=" + prefix_,
      "XDG_STATE_HOME=" + prefix_,
      "XDG_RUNTIME_DIR=" + prefix_,
      "NGINX=" + std::to_string(listen_fd) + ";",  // the inherited socket
  };
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int output = ::open((prefix_ + "/output.log").c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (output < 0) {
    *error = std::string("output log: ") + std::strerror(errno);
    return false;
  }
  pid_t parent = ::getpid();

  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test process
    if (::getppid() != parent) ::_exit(126);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(output, STDERR_FILENO);
    ::execve(kBinary, argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(output);
  if (pid < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  pid_ = pid;
  return true;
}

bool NginxServer::AnswersFirstRequest(std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string request = std::string("GET ") + kReadyPath + " HTTP/1.0\r\n\r\n";
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    // Read the answer to its end; nginx closes after an HTTP/1.0 answer.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[512];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      answer.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (answer.rfind("HTTP/1.1 204", 0) == 0) return true;
  *error = "nginx did not answer on port " + std::to_string(port_) +
           (answer.empty() ? std::string() : ": " + answer.substr(0, 80));
  return false;
}

void NginxServer::Stop() {
  if (pid_ <= 0) return;
  // nginx runs in a process group of its own: its master and its worker.
  ::kill(pid_, SIGTERM);
  if (!WaitForExit(pid_, kStopLimitMs)) {
    ::kill(-pid_, SIGKILL);
    WaitForExit(pid_, -1);
  }
  pid_ = -1;
}

std::string NginxServer::NginxOutput() const {
  return "nginx output:\n" + ReadFile(prefix_ + "/output.log") + "nginx error log:\n" +
         ReadFile(prefix_ + "/error.log");
}

std::vector<std::string> NginxServer::WaitForRequests(size_t count, int timeout_ms) {
  const std::string path = prefix_ + "/access.log";
  int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch >= 0) ::inotify_add_watch(watch, path.c_str(), IN_MODIFY);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<std::string> lines;
  for (;;) {
    // Read after arming the watch, so no write slips between.
    lines.clear();
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (lines.size() >= count || left.count() <= 0 || watch < 0) break;
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char events[4096];
    while (::read(watch, events, sizeof events) > 0) {
    }
  }
  if (watch >= 0) ::close(watch);
  return lines;
}

}  // namespace vespar::testing
