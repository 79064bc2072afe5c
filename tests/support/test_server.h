#pragma once

// An in-process HTTP server for tests: serves files and folder listings on
// one or several loopback addresses, answers HEAD and ranged GET, injects
// faults, and records every request it receives.
//
// Requests arrive the way the program sends them: a request target in
// absolute form ("http://host:port/path") or origin form ("/path"),
// percent-encoded bytes of the wire code page. The server decodes the target
// to raw bytes and looks the path up as those bytes, so a file with a
// non-ASCII name is added under its wire-code-page bytes.
//
// Every connection carries one request; the answer is followed by a close
// ("Connection: close" in the head unless turned off). Each listening address
// has an accept thread and each connection a thread; Stop() and the
// destructor wake and join them all, however a client behaves.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/connection_io.h"
#include "tests/support/fault.h"
#include "tests/support/listener.h"

namespace vespar::testing {

struct ListenAddress {
  std::string address = "127.0.0.1";  // an IPv4 address, normally of 127.0.0.0/8
  AddressMode mode = AddressMode::kServe;
};

struct TestServerOptions {
  // Every address listens on the same port.
  std::vector<ListenAddress> addresses = {ListenAddress{}};
  uint16_t port = 0;  // 0: a free port, the same on every address
  bool connection_close = true;       // "Connection: close" in every head
  int64_t rate_bytes_per_second = 0;  // per connection; 0: unlimited
  size_t max_head_size = 65536;       // a longer request head gets 431
};

// One request as received.
struct RequestRecord {
  std::string raw_head;  // every byte up to and including the blank line
  std::string method;
  std::string target;    // as sent
  std::string version;   // "HTTP/1.0" ...; empty when the request line had none
  std::string path;      // decoded raw bytes (DecodeTargetPath)
  bool has_range = false;
  std::string range;     // the Range value when has_range
  std::string host;      // the Host value, empty when none
  size_t address_index = 0;    // which listening address it arrived at
  std::string local_address;   // "127.0.0.2:8080"
  std::string remote_address;  // "127.0.0.1:41234"
};

class TestServer {
 public:
  explicit TestServer(TestServerOptions options = {});
  ~TestServer();  // Stop()
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Binds every address and starts accepting. False, with the reason in
  // *error when given, when an address cannot be bound.
  bool Start(std::string* error = nullptr);
  // Wakes and joins every thread, closing all connections. Idempotent.
  void Stop();

  uint16_t port() const { return port_; }
  // "127.0.0.1:PORT" of the address with that index.
  std::string HostToken(size_t address_index = 0) const;
  // "http://" + HostToken(address_index) + path; path should begin with "/".
  std::string Url(std::string_view path = "/", size_t address_index = 0) const;

  // Serves `content` at `path` (decoded request path as raw bytes). A folder
  // listing links it as `link_path` (default: `path`), so a file stored
  // under wire-code-page bytes can be linked by its UTF-8 name as the
  // publisher's server does. Replaces an earlier file of that path. A file
  // whose path ends in "/" is served as it stands, in place of a listing.
  void AddFile(std::string path, std::string content, std::string link_path = {});
  void RemoveFile(const std::string& path);
  // Makes `path` (ending in "/") answer a generated listing of the files and
  // folders directly below it.
  void AddFolder(std::string path);

  // Faults for one decoded path, or for every path that has none of its own.
  void SetFault(std::string path, Fault fault);
  void SetDefaultFault(Fault fault);
  void ClearFaults();

  // Per-connection limit for connections accepted from now on (0: none).
  void SetRateLimit(int64_t bytes_per_second);
  // Switches a listening address while the server runs. False when the
  // index is unknown or its port could not be bound again.
  bool SetAddressMode(size_t address_index, AddressMode mode);

  // Called on a connection thread for every request, after it is logged.
  void SetRequestObserver(std::function<void(const RequestRecord&)> observer);

  std::vector<RequestRecord> Requests() const;
  size_t RequestCount() const;
  // Requests whose decoded path is `path`.
  size_t RequestCount(std::string_view path) const;
  // True once `count` requests have been received, false after timeout_ms.
  bool WaitForRequests(size_t count, int timeout_ms = 10000) const;
  // Accepted connections, counted whatever the address mode.
  size_t ConnectionCount() const;
  bool WaitForConnections(size_t count, int timeout_ms = 10000) const;
  // Bytes written to clients so far (heads included), and a wait for a total.
  int64_t BytesSent() const { return sent_.Value(); }
  bool WaitForBytesSent(int64_t count, int timeout_ms = 10000) const {
    return sent_.WaitFor(count, timeout_ms);
  }
  void ClearLog();

 private:
  struct FileEntry {
    std::shared_ptr<const std::string> content;
    std::string link_path;
  };
  struct FaultSlot {
    Fault fault;
    int remaining;  // -1: unlimited
  };
  struct ConnectionThread {
    std::thread thread;
    bool done = false;  // GUARDED_BY(mutex_)
  };

  void OnAccept(int fd, size_t index);
  void OnCount(size_t index);
  void Serve(int fd, size_t index);
  // The fault for this request, consuming one of its times.
  Fault TakeFault(const std::string& path, const std::string& method);
  // REQUIRES: mutex_ is held.
  std::string ListingFor(const std::string& folder, const std::string& host) const;
  // Joins finished connection threads. REQUIRES: mutex_ is held.
  void ReapFinished();

  const TestServerOptions options_;
  uint16_t port_ = 0;
  int stop_fd_ = -1;  // eventfd, readable once Stop() began
  bool started_ = false;
  bool stopped_ = false;
  std::vector<std::unique_ptr<Listener>> listeners_;
  SentCounter sent_;

  mutable std::mutex mutex_;
  mutable std::condition_variable log_cv_;
  std::map<std::string, FileEntry> files_;            // GUARDED_BY(mutex_)
  std::set<std::string> folders_;                      // GUARDED_BY(mutex_)
  std::map<std::string, FaultSlot> faults_;           // GUARDED_BY(mutex_)
  std::unique_ptr<FaultSlot> default_fault_;          // GUARDED_BY(mutex_)
  int64_t rate_bytes_per_second_ = 0;                 // GUARDED_BY(mutex_)
  std::function<void(const RequestRecord&)> observer_;  // GUARDED_BY(mutex_)
  std::vector<RequestRecord> log_;                    // GUARDED_BY(mutex_)
  size_t connection_count_ = 0;                       // GUARDED_BY(mutex_)
  std::vector<std::unique_ptr<ConnectionThread>> connections_;  // GUARDED_BY(mutex_)
  bool accepting_ = true;  // GUARDED_BY(mutex_); false once Stop() began
};

}  // namespace vespar::testing
