#pragma once

// The file seam: every file operation of the engine goes through the current
// FileSystem, so tests can make a write fail with ENOSPC or a rename with
// EACCES without touching permission bits (the tests run as root).
//
// Paths are UTF-8 byte strings. Results are 0 or an errno value; nothing here
// throws.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vespar {

enum class OpenMode {
  kCreateOrKeep,  // created when missing, kept (not truncated) when present
  kExistingOnly,  // fails with ENOENT when missing
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens `path` for writing (and reading) into *fd.
  virtual int OpenForWrite(const std::string& path, OpenMode mode, int* fd) = 0;
  // Writes `size` bytes at `offset`. *written receives the bytes that reached
  // the file even when the result is an error (a short write that then
  // failed). A write that stops without an error number reports EIO.
  virtual int WriteAt(int fd, const void* data, size_t size, int64_t offset,
                      size_t* written) = 0;
  virtual int SyncData(int fd) = 0;
  // Starts writing the dirty pages of `length` bytes from `offset` to disk
  // and returns without waiting, so a later SyncData finds less to do.
  virtual int StartWriteBack(int fd, int64_t offset, int64_t length) = 0;
  virtual int Truncate(int fd, int64_t size) = 0;
  virtual int Close(int fd) = 0;

  virtual bool Exists(const std::string& path) = 0;
  // Size of a regular file; ENOENT when missing.
  virtual int FileSize(const std::string& path, int64_t* size) = 0;
  virtual int Remove(const std::string& path) = 0;
  // Renames without ever replacing `to`: EEXIST when it exists.
  virtual int RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // Creates `path` and every missing parent; 0 when the folder exists after.
  virtual int MakeFolders(const std::string& path) = 0;
  // Bytes available to this user on the volume holding `path`.
  virtual int FreeSpace(const std::string& path, uint64_t* bytes) = 0;
  // Birth time of the file in nanoseconds since 1970; *stamp is 0 when the
  // file system keeps none.
  virtual int BirthTime(int fd, int64_t* stamp) = 0;
};

// The real file system (POSIX calls).
class PosixFileSystem : public FileSystem {
 public:
  int OpenForWrite(const std::string& path, OpenMode mode, int* fd) override;
  int WriteAt(int fd, const void* data, size_t size, int64_t offset,
              size_t* written) override;
  int SyncData(int fd) override;
  int StartWriteBack(int fd, int64_t offset, int64_t length) override;
  int Truncate(int fd, int64_t size) override;
  int Close(int fd) override;
  bool Exists(const std::string& path) override;
  int FileSize(const std::string& path, int64_t* size) override;
  int Remove(const std::string& path) override;
  int RenameNoReplace(const std::string& from, const std::string& to) override;
  int MakeFolders(const std::string& path) override;
  int FreeSpace(const std::string& path, uint64_t* bytes) override;
  int BirthTime(int fd, int64_t* stamp) override;
};

// Passes every call to `base` (borrowed) unless a fault is armed. Faults may
// be armed and cleared from any thread while others use the file system.
class FaultInjectingFileSystem : public FileSystem {
 public:
  explicit FaultInjectingFileSystem(FileSystem* base) : base_(base) {}

  // Writes fail with `error` (0 clears) once `budget` more bytes have been
  // written; the write that crosses the budget writes up to it (a short write)
  // and then fails.
  void FailWritesAfter(int64_t budget, int error);
  void FailWrites(int error) { FailWritesAfter(0, error); }
  void FailOpens(int error) { open_error_ = error; }
  void FailRenames(int error) { rename_error_ = error; }
  void FailRemoves(int error) { remove_error_ = error; }
  void FailMakeFolders(int error) { mkdir_error_ = error; }
  void SetFreeSpace(int64_t bytes) { free_space_ = bytes; }  // -1: the real value
  void ClearFaults();

  int OpenForWrite(const std::string& path, OpenMode mode, int* fd) override;
  int WriteAt(int fd, const void* data, size_t size, int64_t offset,
              size_t* written) override;
  int SyncData(int fd) override { return base_->SyncData(fd); }
  int StartWriteBack(int fd, int64_t offset, int64_t length) override {
    return base_->StartWriteBack(fd, offset, length);
  }
  int Truncate(int fd, int64_t size) override { return base_->Truncate(fd, size); }
  int Close(int fd) override { return base_->Close(fd); }
  bool Exists(const std::string& path) override { return base_->Exists(path); }
  int FileSize(const std::string& path, int64_t* size) override {
    return base_->FileSize(path, size);
  }
  int Remove(const std::string& path) override;
  int RenameNoReplace(const std::string& from, const std::string& to) override;
  int MakeFolders(const std::string& path) override;
  int FreeSpace(const std::string& path, uint64_t* bytes) override;
  int BirthTime(int fd, int64_t* stamp) override {
    return base_->BirthTime(fd, stamp);
  }

 private:
  FileSystem* base_;
  std::atomic<int> write_error_{0};
  std::atomic<int64_t> write_budget_{0};
  std::atomic<int> open_error_{0};
  std::atomic<int> rename_error_{0};
  std::atomic<int> remove_error_{0};
  std::atomic<int> mkdir_error_{0};
  std::atomic<int64_t> free_space_{-1};
};

// Process-wide file system; never null (a PosixFileSystem until one is set).
FileSystem& CurrentFileSystem();
// Installs `fs` (borrowed; must outlive its use) or, with null, the real one.
void SetFileSystem(FileSystem* fs);

}  // namespace vespar
