#include "src/app/single_instance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "src/bootstrap/globals.h"
#include "src/platform/code_page.h"
#include "src/platform/paths.h"

namespace vespar {

std::string InstanceLockPath() { return InstanceLockPath(ApplicationTitle); }

std::string InstanceLockPath(std::u16string_view title) {
  std::string name = ToUtf8(std::u16string(title));
  for (char& c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "vespar-downloader";
  return RuntimeFolder() + "/" + name + ".lock";
}

SingleInstanceLock::~SingleInstanceLock() { Release(); }

SingleInstanceLock::Result SingleInstanceLock::Acquire(const std::string& path) {
  Release();
  error_.clear();
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeFolders(path.substr(0, slash));
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = path + ": " + std::strerror(errno);
    return Result::kUnavailable;
  }
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return Result::kHeldElsewhere;
    error_ = path + ": " + std::strerror(error);
    return Result::kUnavailable;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void SingleInstanceLock::Release() {
  if (fd_ < 0) return;
  // Closing the only descriptor of the open file drops the lock. The file
  // stays: removing it would let a third instance lock a new file while a
  // second still holds the old one.
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vespar
