#pragma once

// One instance at a time. Both front ends share the resume file and the part
// files, so a second running instance would write over the first one's work.
// The first instance holds an exclusive flock() on a lock file named after
// ApplicationTitle in RuntimeFolder() ($XDG_RUNTIME_DIR, else the state
// folder) until it exits; the kernel drops the lock when the process ends,
// however it ends, so a crash never leaves a stale lock behind.

#include <string>
#include <string_view>

namespace vespar {

// RuntimeFolder() + "/" + the title with "/" and control characters made
// "_" + ".lock". The title defaults to ApplicationTitle.
std::string InstanceLockPath();
std::string InstanceLockPath(std::u16string_view title);

class SingleInstanceLock {
 public:
  enum class Result {
    kAcquired,       // this is the only instance
    kHeldElsewhere,  // another instance holds the lock
    kUnavailable,    // no lock file could be made; see error()
  };

  SingleInstanceLock() = default;
  // Releases the lock.
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // Opens (creating when missing, with its folder) the lock file at `path`
  // and tries to lock it without waiting. The descriptor is close-on-exec, so
  // a program started by this instance never holds the lock.
  Result Acquire(const std::string& path);
  void Release();

  bool held() const { return fd_ >= 0; }
  // Why the last Acquire returned kUnavailable.
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace vespar
