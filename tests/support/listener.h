#pragma once

// One listening address of the test server with its accept thread. The
// address can be switched between serving, refusing and dropping
// connections while the server runs.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vespar::testing {

enum class AddressMode {
  kServe,        // accept and answer
  kRefuse,       // hold the port without listening: connects are refused
  kCloseAtOnce,  // accept, then close without reading or answering
  kResetAtOnce,  // accept, then reset
};

class Listener {
 public:
  // Called on the accept thread for every accepted connection of a serving
  // address; the callee owns `fd`. `index` names this listener.
  using AcceptFn = std::function<void(int fd, size_t index)>;
  // Called on the accept thread for every connection accepted (any mode).
  using CountFn = std::function<void(size_t index)>;

  // `stop_fd` turns readable when the server stops; it must outlive this.
  Listener(std::string address, size_t index, int stop_fd, AcceptFn on_accept,
           CountFn on_count);
  ~Listener();  // joins the thread
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Binds to `port` (0: a free one) and listens unless `mode` is kRefuse.
  // 0 on success, else the errno of the failed call.
  int Bind(uint16_t port, AddressMode mode);
  void Close();  // before Start only, to retry with another port
  void Start();
  void Join();

  // Switches the mode; returns once the accept thread has applied it. False
  // when the port could not be bound again.
  bool SetMode(AddressMode mode);

  uint16_t port() const { return port_; }
  const std::string& address() const { return address_; }

 private:
  void Run();
  // Applies wanted_ on the accept thread. REQUIRES: mutex_ is held.
  void ApplyMode();

  const std::string address_;
  const size_t index_;
  const int stop_fd_;
  const AcceptFn on_accept_;
  const CountFn on_count_;
  uint16_t port_ = 0;
  int fd_ = -1;       // touched by the accept thread once started
  int wake_fd_ = -1;  // eventfd: a mode change is waiting

  std::mutex mutex_;
  std::condition_variable applied_cv_;
  AddressMode wanted_ = AddressMode::kServe;   // GUARDED_BY(mutex_)
  AddressMode applied_ = AddressMode::kServe;  // GUARDED_BY(mutex_)
  bool apply_failed_ = false;                  // GUARDED_BY(mutex_)
  bool running_ = false;                       // GUARDED_BY(mutex_)
  std::thread thread_;
};

}  // namespace vespar::testing
