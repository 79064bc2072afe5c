#include "src/platform/file_system.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

namespace vespar {

int PosixFileSystem::OpenForWrite(const std::string& path, OpenMode mode, int* fd) {
  int flags = O_RDWR | O_CLOEXEC;
  if (mode == OpenMode::kCreateOrKeep) flags |= O_CREAT;
  int result;
  do {
    result = ::open(path.c_str(), flags, 0644);
  } while (result < 0 && errno == EINTR);
  if (result < 0) return errno;
  *fd = result;
  return 0;
}

int PosixFileSystem::WriteAt(int fd, const void* data, size_t size,
                             int64_t offset, size_t* written) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, bytes + done, size - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written = done;
      return errno;
    }
    if (n == 0) {  // no progress and no error number: nothing more will fit
      *written = done;
      return EIO;
    }
    done += static_cast<size_t>(n);
  }
  *written = done;
  return 0;
}

int PosixFileSystem::SyncData(int fd) {
  return ::fdatasync(fd) == 0 ? 0 : errno;
}

int PosixFileSystem::StartWriteBack(int fd, int64_t offset, int64_t length) {
  return ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE) == 0 ? 0 : errno;
}

int PosixFileSystem::Truncate(int fd, int64_t size) {
  return ::ftruncate(fd, size) == 0 ? 0 : errno;
}

int PosixFileSystem::Close(int fd) {
  // After close() the descriptor is gone whatever it returns; EINTR is not
  // retried (the number may already belong to another file).
  return ::close(fd) == 0 ? 0 : errno;
}

bool PosixFileSystem::Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

int PosixFileSystem::FileSize(const std::string& path, int64_t* size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  *size = st.st_size;
  return 0;
}

int PosixFileSystem::Remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int PosixFileSystem::RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // File systems without RENAME_NOREPLACE: link() never replaces either.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  if (::unlink(from.c_str()) != 0) {
    error = errno;
    ::unlink(to.c_str());
    return error;
  }
  return 0;
}

int PosixFileSystem::MakeFolders(const std::string& path) {
  if (path.empty()) return ENOENT;
  // Usually the folder is there already: one look instead of a mkdir for
  // every component.
  struct stat existing;
  if (::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) return 0;
  std::string partial;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find('/', pos);
    if (next == std::string::npos) next = path.size();
    partial = path.substr(0, next);
    pos = next + 1;
    if (partial.empty()) continue;  // the root
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int PosixFileSystem::FreeSpace(const std::string& path, uint64_t* bytes) {
  struct statvfs st;
  if (::statvfs(path.c_str(), &st) != 0) return errno;
  *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return 0;
}

int PosixFileSystem::BirthTime(int fd, int64_t* stamp) {
  struct statx st;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &st) != 0) return errno;
  if (!(st.stx_mask & STATX_BTIME)) {
    *stamp = 0;
    return 0;
  }
  *stamp = static_cast<int64_t>(st.stx_btime.tv_sec) * 1000000000 +
           st.stx_btime.tv_nsec;
  return 0;
}

void FaultInjectingFileSystem::FailWritesAfter(int64_t budget, int error) {
  write_budget_ = budget;
  write_error_ = error;
}

void FaultInjectingFileSystem::ClearFaults() {
  write_error_ = 0;
  write_budget_ = 0;
  open_error_ = 0;
  rename_error_ = 0;
  remove_error_ = 0;
  mkdir_error_ = 0;
  free_space_ = -1;
}

int FaultInjectingFileSystem::OpenForWrite(const std::string& path, OpenMode mode,
                                           int* fd) {
  if (int error = open_error_.load()) return error;
  return base_->OpenForWrite(path, mode, fd);
}

int FaultInjectingFileSystem::WriteAt(int fd, const void* data, size_t size,
                                      int64_t offset, size_t* written) {
  int error = write_error_.load();
  if (!error) return base_->WriteAt(fd, data, size, offset, written);
  int64_t budget = write_budget_.fetch_sub(static_cast<int64_t>(size));
  if (budget >= static_cast<int64_t>(size))
    return base_->WriteAt(fd, data, size, offset, written);
  *written = 0;
  if (budget > 0) {
    size_t part = static_cast<size_t>(budget);
    int result = base_->WriteAt(fd, data, part, offset, written);
    if (result) return result;
  }
  return error;
}

int FaultInjectingFileSystem::Remove(const std::string& path) {
  if (int error = remove_error_.load()) return error;
  return base_->Remove(path);
}

int FaultInjectingFileSystem::RenameNoReplace(const std::string& from,
                                              const std::string& to) {
  if (int error = rename_error_.load()) return error;
  return base_->RenameNoReplace(from, to);
}

int FaultInjectingFileSystem::MakeFolders(const std::string& path) {
  if (int error = mkdir_error_.load()) return error;
  return base_->MakeFolders(path);
}

int FaultInjectingFileSystem::FreeSpace(const std::string& path, uint64_t* bytes) {
  int64_t fixed = free_space_.load();
  if (fixed < 0) return base_->FreeSpace(path, bytes);
  *bytes = static_cast<uint64_t>(fixed);
  return 0;
}

namespace {

std::atomic<FileSystem*> g_current{nullptr};

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace

FileSystem& CurrentFileSystem() {
  FileSystem* fs = g_current.load();
  return fs ? *fs : RealFileSystem();
}

void SetFileSystem(FileSystem* fs) { g_current = fs; }

}  // namespace vespar
