#include "tests/support/console_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "src/platform/resolver.h"

namespace vespar::testing {
namespace {

constexpr char kDnsmasq[] = "/usr/sbin/dnsmasq";
constexpr char kUnshare[] = "/usr/bin/unshare";

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

std::string EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return std::string("socket: ") + strerror(errno);
  ifreq request{};
  strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  std::string error;
  if (ioctl(s, SIOCGIFFLAGS, &request) != 0) {
    error = std::string("SIOCGIFFLAGS lo: ") + strerror(errno);
  } else {
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    if (ioctl(s, SIOCSIFFLAGS, &request) != 0)
      error = std::string("SIOCSIFFLAGS lo: ") + strerror(errno);
  }
  close(s);
  return error;
}

NameServer::~NameServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (log_fd_ >= 0) close(log_fd_);
}

bool NameServer::Start(const std::vector<std::string>& records, const std::string& scratch,
                       std::string* error) {
  if (access(kDnsmasq, X_OK) != 0) {
    *error = std::string(kDnsmasq) + " is missing (package dnsmasq-base)";
    return false;
  }
  scratch_ = scratch;
  std::vector<std::string> args = {kDnsmasq,         "--no-daemon",       "--conf-file=/dev/null",
                                   "--pid-file=",    "--log-facility=-",  "--no-resolv",
                                   "--no-hosts",     "--no-round-robin",  "--bind-interfaces",
                                   "--listen-address=127.0.0.1", "--port=53"};
  // As root dnsmasq would switch to "nobody"; staying root needs neither
  // that account nor the right to change users.
  if (geteuid() == 0) args.push_back("--user=root");
  for (const std::string& r : records) args.push_back("--host-record=" + r);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  char* envp[] = {const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), nullptr};

  int log[2];
  if (pipe2(log, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, log[1], 1);
  posix_spawn_file_actions_adddup2(&actions, log[1], 2);
  const int rc = posix_spawn(&pid_, kDnsmasq, &actions, nullptr, argv.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  close(log[1]);
  log_fd_ = log[0];  // kept open: dnsmasq logs here until it stops
  if (rc != 0) {
    pid_ = -1;
    *error = std::string("cannot start dnsmasq: ") + strerror(rc);
    return false;
  }
  // dnsmasq binds its sockets before it reports "started"; a failed bind
  // ends it with a message instead.
  std::string output;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (output.find("started, version") == std::string::npos) {
    pollfd p{log_fd_, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    if (poll(&p, 1, MillisecondsLeft(deadline)) <= 0 ||
        (n = read(log_fd_, buffer, sizeof buffer)) <= 0) {
      *error = "dnsmasq did not start: " + output;
      return false;
    }
    output.append(buffer, static_cast<size_t>(n));
  }
  if (!WriteText(scratch_ + "/resolv.conf", "nameserver 127.0.0.1\noptions attempts:1\n")) {
    *error = "cannot write " + scratch_ + "/resolv.conf";
    return false;
  }
  return true;
}

std::vector<std::string> NameServer::LookUp(const std::string& host) const {
  DnsServerResolver resolver("127.0.0.1", 53);
  std::vector<uint32_t> addresses;
  std::vector<std::string> dotted;
  if (resolver.LookupA(host, &addresses) != LookupOutcome::kAddresses) return dotted;
  for (uint32_t a : addresses) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{a};
    inet_ntop(AF_INET, &address, text, sizeof text);
    dotted.push_back(text);
  }
  return dotted;
}

std::vector<std::string> NameServer::Wrap(const std::vector<std::string>& argv,
                                          const std::vector<std::string>& hosts_lines) const {
  std::string hosts = "127.0.0.1 localhost\n";
  for (const std::string& line : hosts_lines) hosts += line + "\n";
  WriteText(scratch_ + "/hosts", hosts);
  // A private mount namespace: the bind mounts vanish with the program.
  std::vector<std::string> wrapped = {
      kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c",
      "mount --bind \"$1\" /etc/resolv.conf && mount --bind \"$2\" /etc/hosts && "
      "shift 2 && exec \"$@\"",
      "sh", scratch_ + "/resolv.conf", scratch_ + "/hosts"};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

bool WaitForFileSize(const std::string& file, long long size, int limit_ms) {
  auto big_enough = [&] {
    struct stat st;
    return stat(file.c_str(), &st) == 0 && st.st_size >= size;
  };
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) return big_enough();
  const std::string folder = file.substr(0, file.rfind('/'));
  inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
  const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  bool reached = false;
  while (!(reached = big_enough())) {
    pollfd p{watch, POLLIN, 0};
    const int left = MillisecondsLeft(deadline);
    if (left == 0 || poll(&p, 1, left) <= 0) break;
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
  return reached || big_enough();
}

}  // namespace vespar::testing
