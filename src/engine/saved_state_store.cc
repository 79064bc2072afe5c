#include "src/engine/saved_state_store.h"

#include <string.h>

#include "src/bootstrap/globals.h"
#include "src/engine/download_manager.h"
#include "src/engine/local_path.h"
#include "src/engine/resume_location.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"

namespace vespar {

std::string PartFilePathOf(std::u16string_view folder, const ResumeEntry& entry) {
  std::u16string relative;
  if (!IsSafeFileName(entry.fileName) || !RelativeFolderOf(entry.content, &relative))
    return {};
  return ToUtf8(JoinLocalPath(folder, relative, entry.fileName) + u".tmp");
}

ResumeFileStore::ResumeFileStore() : location_(DefaultResumeLocation()) {}

ResumeFileStore::ResumeFileStore(ResumeLocation location) : location_(std::move(location)) {}

int ResumeFileStore::ReadResumeFile(CDownloadManager& m) {
  for (int fd : m.heldFiles) CurrentFileSystem().Close(fd);
  m.heldFiles.clear();
  ResumeReadResult result = vespar::ReadResumeFile(location_, ApplicationTitle, DownloadNames,
                                                   m.downloadFolder, &PartFilePathOf);
  if (!result.belongs) return 1;
  if (result.folder) {
    m.downloadFolder = NormaliseFolder(*result.folder);
    m.savedFolder = m.downloadFolder;
  }
  read_ = result.parts;
  m.savedParts.clear();
  for (const ResumeEntry& entry : result.parts) {
    CPartRecord record;
    FillRecord(entry, &record);
    m.savedParts.push_back(record);
  }
  m.savedPartsCopy = m.savedParts;
  for (HeldFile& held : result.heldFiles) m.heldFiles.push_back(held.Release());
  return 0;
}

int ResumeFileStore::WriteResumeFile(CDownloadManager& m) {
  lastWrite_ = std::chrono::steady_clock::now();
  for (int fd : m.heldFiles) CurrentFileSystem().Close(fd);
  m.heldFiles.clear();
  if (m.allDone) {
    ResumeWriteStatus status = RemoveResumeFile(location_);
    if (!status.ok()) LogPrintf("resume file: %s: %s", status.what.c_str(), strerror(status.error));
    return status.ok() ? 0 : 1;
  }
  std::vector<const CPartRecord*> run;
  for (const auto& part : m.workers) run.push_back(part.get());
  // The saved parts still standing (none after the user discarded them),
  // with the stamps they were read with.
  std::vector<ResumeEntry> saved;
  for (const ResumeEntry& entry : read_) {
    for (const CPartRecord& s : m.savedParts) {
      if (s.sourceUrl == entry.content && s.partIndex == entry.partIndex &&
          s.startOffset == entry.startOffset) {
        saved.push_back(entry);
        break;
      }
    }
  }
  ResumeWriteStatus status =
      vespar::WriteResumeFile(location_, ApplicationTitle, m.downloadFolder,
                              CheckpointEntries(run, saved), &PartFilePathOf);
  if (!status.ok()) {
    LogPrintf("resume file: %s: %s", status.what.c_str(), strerror(status.error));
    return 1;
  }
  return 0;
}

void ResumeFileStore::Checkpoint(CDownloadManager& m, CheckpointReason reason) {
  if (reason == CheckpointReason::kProgress &&
      std::chrono::steady_clock::now() - lastWrite_ < interval_)
    return;
  WriteResumeFile(m);
}

}  // namespace vespar
