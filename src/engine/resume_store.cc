#include "src/engine/resume_store.h"

#include <string.h>

#include <algorithm>
#include <utility>

#include "src/bootstrap/globals.h"
#include "src/engine/download_manager.h"
#include "src/engine/local_path.h"
#include "src/engine/resume_location.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/event.h"
#include "src/platform/file_system.h"

namespace vespar {
namespace {

bool SamePart(const ResumeEntry& a, const ResumeEntry& b) {
  return a.partIndex == b.partIndex && a.startOffset == b.startOffset &&
         a.endOffset == b.endOffset && a.currentOffset == b.currentOffset &&
         a.fileSize == b.fileSize && a.content == b.content && a.fileName == b.fileName;
}

void CloseHeldFiles(CDownloadManager& manager) {
  for (int fd : manager.heldFiles) CurrentFileSystem().Close(fd);
  manager.heldFiles.clear();
}

}  // namespace

std::string ResumePartFilePath(std::u16string_view folder, const ResumeEntry& entry) {
  std::u16string relative;
  if (!IsSafeFileName(entry.fileName) || !RelativeFolderOf(entry.content, &relative))
    return {};
  return ToUtf8(JoinLocalPath(folder, relative, entry.fileName) + u".tmp");
}

FileResumeStore::FileResumeStore() : FileResumeStore(Options{}) {}

FileResumeStore::FileResumeStore(Options options) : options_(std::move(options)) {
  if (!options_.now) options_.now = [] { return std::chrono::steady_clock::now(); };
  location_ = options_.location;
}

const ResumeLocation& FileResumeStore::Location() {
  if (!location_) location_ = DefaultResumeLocation();
  return *location_;
}

int FileResumeStore::ReadResumeFile(CDownloadManager& manager) {
  CloseHeldFiles(manager);
  // DownloadNames may still grow on the main thread (the contents script)
  // until start-up marks the list final.
  const ManualResetEvent& listFinished =
      options_.listFinished ? *options_.listFinished : DownloadListFinished();
  if (!listFinished.Wait(options_.listWaitMs)) {
    LogPrintf("the download list was not final after %d ms: nothing is resumed, and "
              "the resume file is kept as it is",
              options_.listWaitMs);
    readSkipped_ = true;
    return 1;
  }

  ResumeReadResult result = vespar::ReadResumeFile(
      Location(), ApplicationTitle, DownloadNames, manager.downloadFolder, ResumePartFilePath);
  if (!result.belongs) return 1;
  if (result.folder) {
    manager.downloadFolder = NormaliseFolder(*result.folder);
    manager.savedFolder = manager.downloadFolder;
  }
  CurrentFileSystem().MakeFolders(ToUtf8(manager.downloadFolder));
  for (const ResumeEntry& entry : result.parts) {
    CPartRecord record;
    FillRecord(entry, &record);
    manager.savedParts.push_back(record);
    manager.savedPartsCopy.push_back(record);
  }
  read_ = std::move(result.parts);
  for (HeldFile& held : result.heldFiles) manager.heldFiles.push_back(held.Release());
  return 0;
}

int FileResumeStore::WriteResumeFile(CDownloadManager& manager) {
  CloseHeldFiles(manager);
  if (manager.allDone) {
    ResumeWriteStatus status = RemoveResumeFile(Location());
    Report(status);
    return status.ok() ? 0 : 1;
  }
  if (readSkipped_) return 0;
  int result = Write(manager);
  if (result == 0) pending_ = false;
  return result;
}

void FileResumeStore::Checkpoint(CDownloadManager& manager, CheckpointReason reason) {
  // After completion the final write removes the file; a skipped read keeps
  // it untouched.
  if (manager.allDone || readSkipped_) {
    pending_ = false;
    return;
  }
  if (reason != CheckpointReason::kDue) pending_ = true;
  if (!pending_) return;
  const auto now = options_.now();
  if (now < nextWrite_) return;
  nextWrite_ = now + options_.interval;
  // A failed write stays pending and is tried again after the interval.
  if (Write(manager) == 0) pending_ = false;
}

int FileResumeStore::CheckpointDueInMs() const {
  if (!pending_) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextWrite_ - options_.now());
  // Rounded up, so the wake-up never comes a little early and spins.
  return static_cast<int>(std::max<int64_t>(0, left.count() + 1));
}

std::vector<ResumeEntry> FileResumeStore::SavedEntries(const CDownloadManager& manager) const {
  std::vector<ResumeEntry> entries;
  entries.reserve(manager.savedParts.size());
  for (const CPartRecord& record : manager.savedParts) {
    ResumeEntry entry = EntryFromRecord(record);
    // A part read from the file keeps the stamp it was checked against; any
    // other takes its part file's stamp when written.
    for (const ResumeEntry& read : read_) {
      if (SamePart(read, entry)) {
        entry.hasStamp = read.hasStamp;
        entry.stamp = read.stamp;
        break;
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

int FileResumeStore::Write(CDownloadManager& manager) {
  std::vector<const CPartRecord*> run;
  run.reserve(manager.workers.size());
  for (const auto& part : manager.workers) run.push_back(part.get());
  ResumeWriteStatus status = vespar::WriteResumeFile(
      Location(), ApplicationTitle, manager.downloadFolder,
      CheckpointEntries(run, SavedEntries(manager)), ResumePartFilePath,
      options_.beforeRename, &flushed_);
  Report(status);
  return status.ok() ? 0 : 1;
}

void FileResumeStore::Report(const ResumeWriteStatus& status) {
  // One line when saving starts failing (or fails differently) and one when
  // it works again, not one per checkpoint.
  if (status.error != lastError_) {
    if (status.ok()) {
      LogPrintf("the resume file is saved again");
    } else {
      LogPrintf("the resume file %s is not saved: %s: %s", Location().file.c_str(),
                status.what.c_str(), strerror(status.error));
    }
    lastError_ = status.error;
  }
  if (options_.onWritten) options_.onWritten(status);
}

}  // namespace vespar
