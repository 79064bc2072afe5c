#include "src/engine/resume_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "src/engine/part_record.h"
#include "src/engine/resume_stamp.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {
namespace {

ResumeWriteStatus Failed(int error, std::string what) {
  return ResumeWriteStatus{error, std::move(what)};
}

// Makes a rename or removal in `folder` durable. The seam has no folder
// sync, so this is the one direct call.
int SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

int RemoveIfPresent(FileSystem& fs, const std::string& path) {
  int error = fs.Remove(path);
  return error == ENOENT ? 0 : error;
}

// Reads at most `limit` bytes of `path`. ENOENT when missing, EFBIG when
// larger than the limit.
int ReadWholeFile(const std::string& path, size_t limit, std::string* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (n == 0) break;
    if (out->size() + static_cast<size_t>(n) > limit) {
      error = EFBIG;
      break;
    }
    out->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return error;
}

// Opens the part file of each entry once, flushes its data and reads its
// stamp. An entry keeps a stamp it already has (a saved part of an earlier
// run keeps the one it was validated with).
void StampEntries(std::u16string_view folder, std::vector<ResumeEntry>* entries,
                  const PartFilePathFn& partPath, FlushedPartFiles* flushed) {
  FileSystem& fs = CurrentFileSystem();
  std::vector<std::string> paths;
  paths.reserve(entries->size());
  // Every offset recorded for each file, in entry order.
  std::map<std::string, std::vector<int64_t>> offsets;
  for (const ResumeEntry& e : *entries) {
    paths.push_back(partPath(folder, e));
    std::vector<int64_t>& o = offsets[paths.back()];
    o.insert(o.end(), {e.partIndex, e.startOffset, e.currentOffset, e.endOffset});
  }
  std::map<std::string, uint64_t> stamps;  // 0: no usable stamp
  for (size_t i = 0; i < entries->size(); ++i) {
    ResumeEntry& e = (*entries)[i];
    const std::string& path = paths[i];
    auto it = stamps.find(path);
    if (it == stamps.end()) {
      uint64_t stamp = flushed ? flushed->StampIfUnchanged(path, offsets[path]) : 0;
      int fd = -1;
      if (stamp == 0 && fs.OpenForWrite(path, OpenMode::kExistingOnly, &fd) == 0) {
        // Flushed before the offsets that point into it are recorded.
        if (fs.SyncData(fd) == 0) stamp = ReadCreationStamp(fd);
        fs.Close(fd);
        if (flushed && stamp != 0) flushed->Remember(path, offsets[path], stamp);
      }
      it = stamps.emplace(path, stamp).first;
    }
    if (it->second == 0) {
      e.hasStamp = false;
    } else if (!e.hasStamp) {
      e.hasStamp = true;
      e.stamp = it->second;
    }
  }
}

}  // namespace

uint64_t FlushedPartFiles::StampIfUnchanged(const std::string& path,
                                            const std::vector<int64_t>& offsets) const {
  auto it = files_.find(path);
  return it != files_.end() && it->second.offsets == offsets ? it->second.stamp : 0;
}

void FlushedPartFiles::Remember(const std::string& path, std::vector<int64_t> offsets,
                                uint64_t stamp) {
  files_[path] = Flushed{std::move(offsets), stamp};
}

ResumeLocation ResumeLocationFor(std::string_view documentsFolder,
                                 std::u16string_view title) {
  std::string name = ToUtf8(title);
  ResumeLocation location;
  location.folder = std::string(documentsFolder) + name;
  location.file = location.folder + "/" + name + ".qzx";
  location.staging = location.folder + "/" + name + ".tmp";
  return location;
}

std::vector<ResumeEntry> CheckpointEntries(
    const std::vector<const CPartRecord*>& runRecords,
    const std::vector<ResumeEntry>& savedParts) {
  std::vector<ResumeEntry> entries;
  std::set<std::u16string> runItems;
  for (const CPartRecord* record : runRecords) {
    entries.push_back(EntryFromRecord(*record));
    runItems.insert(record->sourceUrl);
  }
  for (const ResumeEntry& saved : savedParts) {
    if (runItems.count(saved.content) == 0) entries.push_back(saved);
  }
  return entries;
}

ResumeWriteStatus WriteResumeFile(const ResumeLocation& location,
                                  std::u16string_view title,
                                  std::u16string_view folder,
                                  std::vector<ResumeEntry> entries,
                                  const PartFilePathFn& partPath,
                                  const BeforeRenameHook& beforeRename,
                                  FlushedPartFiles* flushed) {
  FileSystem& fs = CurrentFileSystem();
  if (int error = fs.MakeFolders(location.folder))
    return Failed(error, "creating the resume folder");

  StampEntries(folder, &entries, partPath, flushed);
  std::string text = FormatResumeText(title, folder, entries);

  int fd = -1;
  if (int error = fs.OpenForWrite(location.staging, OpenMode::kCreateOrKeep, &fd))
    return Failed(error, "creating the staging file");
  const char* step = nullptr;
  int error = fs.Truncate(fd, 0);
  if (error) step = "emptying the staging file";
  if (!error && !text.empty()) {
    size_t written = 0;
    error = fs.WriteAt(fd, text.data(), text.size(), 0, &written);
    if (error) step = "writing the staging file";
  }
  if (!error) {
    error = fs.SyncData(fd);
    if (error) step = "syncing the staging file";
  }
  int closeError = fs.Close(fd);
  if (!error && closeError) {
    error = closeError;
    step = "closing the staging file";
  }
  if (error) {
    RemoveIfPresent(fs, location.staging);
    return Failed(error, step);
  }

  if (beforeRename && !beforeRename()) return Failed(EINTR, "stopped before the rename");

  // Replacing the resume file is the one step the seam does not offer.
  if (::rename(location.staging.c_str(), location.file.c_str()) != 0) {
    error = errno;
    RemoveIfPresent(fs, location.staging);
    return Failed(error, "replacing the resume file");
  }
  if (int error = SyncFolder(location.folder))
    return Failed(error, "syncing the resume folder");
  return {};
}

ResumeWriteStatus RemoveResumeFile(const ResumeLocation& location) {
  FileSystem& fs = CurrentFileSystem();
  if (int error = RemoveIfPresent(fs, location.file))
    return Failed(error, "removing the resume file");
  if (int error = RemoveIfPresent(fs, location.staging))
    return Failed(error, "removing the staging file");
  int error = SyncFolder(location.folder);
  if (error && error != ENOENT) return Failed(error, "syncing the resume folder");
  return {};
}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) CurrentFileSystem().Close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

HeldFile::~HeldFile() {
  if (fd_ >= 0) CurrentFileSystem().Close(fd_);
}

ResumeReadResult ReadResumeFile(const ResumeLocation& location,
                                std::u16string_view title,
                                const std::vector<std::u16string>& downloadNames,
                                std::u16string_view currentFolder,
                                const PartFilePathFn& partPath) {
  FileSystem& fs = CurrentFileSystem();
  ResumeReadResult result;
  RemoveIfPresent(fs, location.staging);

  std::string text;
  if (ReadWholeFile(location.file, kResumeFileLimit, &text) != 0) return result;
  ResumeDocument doc = ParseResumeText(text);
  if (doc.guid != title || !doc.complete) return result;
  result.belongs = true;
  if (doc.folder != u"NULL" && !doc.folder.empty()) result.folder = doc.folder;
  std::u16string folder(result.folder ? *result.folder : currentFolder);

  std::set<std::u16string_view> names(downloadNames.begin(), downloadNames.end());
  std::set<std::string> held;
  for (ResumeEntry& e : doc.entries) {
    if (!IsPlausible(e) || names.count(e.fileName) == 0) continue;
    std::string path = partPath(folder, e);
    int fd = -1;
    if (fs.OpenForWrite(path, OpenMode::kExistingOnly, &fd) != 0) continue;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      fs.Close(fd);
      continue;
    }
    uint64_t stamp = ReadCreationStamp(fd);
    bool sameFile = e.hasStamp && stamp != 0 && e.stamp == stamp;
    bool bytesThere = e.currentOffset == e.startOffset ||
                      static_cast<int64_t>(st.st_size) >= e.currentOffset;
    if (sameFile && bytesThere) {
      e.state = SavedState(e.state, e.currentOffset, e.endOffset);
      result.parts.push_back(std::move(e));
    }
    // Several parts of one file share the first descriptor opened for it.
    if (held.insert(path).second) {
      result.heldFiles.emplace_back(fd);
    } else {
      fs.Close(fd);
    }
  }
  return result;
}

int CopyFileContents(const std::string& source, const std::string& destination) {
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return 1;
  FileSystem& fs = CurrentFileSystem();
  int out = -1;
  if (fs.OpenForWrite(destination, OpenMode::kCreateOrKeep, &out) != 0) {
    ::close(in);
    return 1;
  }
  int error = fs.Truncate(out, 0);
  char buffer[65536];
  int64_t offset = 0;
  while (!error) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    size_t written = 0;
    error = fs.WriteAt(out, buffer, static_cast<size_t>(n), offset, &written);
    offset += n;
  }
  ::close(in);
  if (fs.Close(out) != 0 && !error) error = EIO;
  return error ? 1 : 0;
}

}  // namespace vespar
