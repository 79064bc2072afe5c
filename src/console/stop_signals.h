#pragma once

// Ctrl-C and SIGTERM for the console's message loop. The handler does no
// work: it notes the signal and makes a descriptor readable, which the loop
// watches in its poll() beside its message queue. A second signal while the
// first is still being handled ends the process at once, the default way.
//
// Nothing is blocked, so programs the console starts inherit ordinary
// signal dispositions.

namespace vespar {

class StopSignals {
 public:
  StopSignals() = default;
  // Puts the previous handlers back.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Installs the handlers for SIGINT and SIGTERM. One instance at a time.
  // False when that fails (nothing stays installed).
  bool Install();

  // Readable once a stop signal has arrived.
  int fd() const { return fd_; }
  // The first stop signal received, 0 while none.
  int received() const;

 private:
  int fd_ = -1;
  bool installed_ = false;
};

}  // namespace vespar
