// Turning parts read from the resume file back into part records; manager
// thread only.

#include <algorithm>

#include "src/engine/download_manager.h"
#include "src/engine/records.h"
#include "src/engine/resume_format.h"
#include "src/engine/resume_restore.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"

namespace vespar {

int CDownloadManager::RestoreSavedParts(const std::u16string& url) {
  if (quitting) return 1;
  std::vector<const CPartRecord*> mine;
  std::vector<ResumeEntry> saved;
  for (const CPartRecord& s : savedParts) {
    if (s.sourceUrl != url) continue;
    mine.push_back(&s);
    saved.push_back(EntryFromRecord(s));
  }
  if (mine.empty()) return 0;
  // A file's saved parts are used together or not at all, and only when the
  // planner can go on from them with the file the server has now; anything
  // else would splice old bytes onto a new file or leave a range that
  // nobody fetches.
  if (!IsRestorableFile(saved, fileSize, CurrentDivision())) {
    LogPrintf("saved parts of %s do not fit the file as it is now; fetching it anew",
              ToUtf8(url).c_str());
    savedParts.erase(std::remove_if(savedParts.begin(), savedParts.end(),
                                    [&](const CPartRecord& s) { return s.sourceUrl == url; }),
                     savedParts.end());
    // Whatever the old part file holds past the new size is not this file.
    PrepareFreshPartFile(PrepareLocalPath(url, fileName));
    return 0;
  }

  int result = 0;
  int64_t restored = 0;
  for (const CPartRecord* s : mine) {
    std::u16string localPath = PrepareLocalPath(url, fileName);
    int64_t onDisk = s->currentOffset - s->startOffset;
    restored += onDisk;
    totalWritten += onDisk;
    result = 1;
    ++partsStarted;
    workers.push_back(std::make_unique<CPartWorker>());
    CPartWorker* part = workers.back().get();
    part->downType = s->downType;
    part->partIndex = s->partIndex;
    part->fileSize = s->fileSize;
    part->fileName = s->fileName;
    part->sourceUrl = s->sourceUrl;
    part->connectUrl = s->sourceUrl;
    part->startOffset = s->startOffset;
    part->currentOffset = s->currentOffset.load();
    part->endOffset = s->endOffset;
    part->localPath = localPath;
    // A part with every byte on disk is complete whatever state was saved;
    // any other part is restarted from where it stopped.
    int16_t state = s->state;
    if (part->currentOffset > part->endOffset) {
      state = PART_COMPLETE;
    } else if (!IsRestartable(state)) {
      state = PART_STOPPED;
    }
    part->state = state;
    NotifyPartRow(part, state, totalWritten);
    if (restored == s->fileSize) result = 2;
  }
  return result;
}

}  // namespace vespar
