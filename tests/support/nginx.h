#pragma once

// nginx as a real peer server for tests.
//
// Each NginxServer runs its own nginx from a generated configuration in a
// private temporary prefix (configuration, pid, logs and temporary folders all
// inside it), in the foreground, serving one folder on a free port of
// 127.0.0.1. The test process binds and listens on that port itself and hands
// the socket to nginx, so the port accepts from the first moment and no other
// process can take it. The access log holds one raw request line per request.
// The destructor stops nginx by its pid and removes the prefix.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vespar::testing {

class NginxServer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";

  // `root`: the folder served at "/"; it must exist while the server runs.
  explicit NginxServer(std::string root);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Extra directives placed inside the server block (locations, limit_rate),
  // for example `location ~ /$ { root LISTINGS; try_files ${uri}index.html
  // =404; }` to serve pre-generated folder listings. Set before Start.
  void SetServerDirectives(std::string directives) {
    server_directives_ = std::move(directives);
  }

  // Starts nginx and waits (bounded) until it has answered a first request.
  // False, with the reason and nginx's own error output in *error, when it
  // cannot be started.
  bool Start(std::string* error);
  void Stop();

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& prefix() const { return prefix_; }

  // The request lines of the access log, in order, once it holds at least
  // `count` of them; what it holds when timeout_ms passes first.
  std::vector<std::string> WaitForRequests(size_t count, int timeout_ms = 10000);

 private:
  bool WriteConfig(std::string* error);
  bool Spawn(int listen_fd, std::string* error);
  bool AnswersFirstRequest(std::string* error);
  std::string NginxOutput() const;

  std::string root_;
  std::string server_directives_;
  std::string prefix_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace vespar::testing
