#include "src/engine/resume_stamp.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>

#include <charconv>

#include "src/platform/file_system.h"

namespace vespar {
namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 116444736000000000ull;

uint64_t ReadStampAttribute(int fd) {
  char text[32];
  ssize_t n = ::fgetxattr(fd, kStampAttribute, text, sizeof text);
  if (n <= 0) return 0;
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text, text + n, value);
  if (error != std::errc() || end != text + n) return 0;
  return value;
}

// Birth times come from the kernel's coarse clock (a few milliseconds per
// tick), so a file deleted and created anew within one tick has the same
// birth time. Its inode generation (and often its inode number) differs:
// mixed into the low 16 bits (under 7 ms of the stamp) they tell such files
// apart while the stamp still reads as the creation time.
uint64_t IdentityBits(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return 0;
  unsigned int generation = 0;
  if (::ioctl(fd, FS_IOC_GETVERSION, &generation) != 0) generation = 0;
  uint64_t x = static_cast<uint64_t>(st.st_ino) * 0x9E3779B97F4A7C15ull;
  x ^= (static_cast<uint64_t>(generation) + 1) * 0xC2B2AE3D27D4EB4Full;
  x ^= x >> 31;
  return x & 0xFFFF;
}

}  // namespace

uint64_t StampFromUnixNanos(int64_t nanos) {
  if (nanos <= 0) return 0;
  return static_cast<uint64_t>(nanos) / 100 + kEpochDifference;
}

uint64_t ReadCreationStamp(int fd) {
  int64_t birth = 0;
  if (CurrentFileSystem().BirthTime(fd, &birth) == 0 && birth > 0) {
    return StampFromUnixNanos(birth) ^ IdentityBits(fd);
  }
  return ReadStampAttribute(fd);
}

uint64_t EnsureCreationStamp(int fd) {
  if (uint64_t stamp = ReadCreationStamp(fd)) return stamp;
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  uint64_t stamp = StampFromUnixNanos(static_cast<int64_t>(now.tv_sec) *
                                          1000000000 + now.tv_nsec);
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, stamp);
  // XATTR_CREATE: when another opener set a stamp a moment ago, theirs stays.
  if (::fsetxattr(fd, kStampAttribute, text, end - text, XATTR_CREATE) != 0) {
    return ReadStampAttribute(fd);
  }
  return stamp;
}

}  // namespace vespar
