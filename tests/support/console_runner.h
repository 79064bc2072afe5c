#pragma once

// Helpers for running vespar-console against servers a test controls, beyond
// what a plain child process needs: a network of its own (a network namespace
// with only loopback, where port 80 is free), a name server for it (Debian's
// dnsmasq) and a console whose system resolver asks that server, and a wait
// for a part file to reach a size.

#include <sys/types.h>

#include <string>
#include <vector>

namespace vespar::testing {

// Moves the calling thread (only it) into a new network namespace with its
// loopback interface up. Sockets it makes and processes it starts from then
// on live there. Empty on success, else why it cannot (it needs root).
std::string EnterPrivateNetwork();

// dnsmasq answering host records on port 53 of 127.0.0.1 of the calling
// thread's network namespace, in the order given, and nothing else. Stopped
// by its pid when destroyed.
class NameServer {
 public:
  NameServer() = default;
  ~NameServer();
  NameServer(const NameServer&) = delete;
  NameServer& operator=(const NameServer&) = delete;

  // `records`: "name,address" host records. `scratch`: a folder for the
  // resolver files Wrap hands to the console. False with the reason in *error.
  bool Start(const std::vector<std::string>& records, const std::string& scratch,
             std::string* error);
  // The A records the server gives for `host`, dotted, in answer order.
  std::vector<std::string> LookUp(const std::string& host) const;

  // `argv` run in a mount namespace of its own where /etc/resolv.conf names
  // this server and /etc/hosts holds `hosts_lines` (and localhost), so the
  // program's system resolver (getaddrinfo, res_nquery) sees only them.
  std::vector<std::string> Wrap(const std::vector<std::string>& argv,
                                const std::vector<std::string>& hosts_lines) const;

 private:
  pid_t pid_ = -1;
  int log_fd_ = -1;
  std::string scratch_;
};

// Waits until `file` holds at least `size` bytes, watching its folder (which
// must exist); false after `limit_ms`.
bool WaitForFileSize(const std::string& file, long long size, int limit_ms = 30000);

}  // namespace vespar::testing
