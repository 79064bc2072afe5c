// Turning parts read from the resume file back into part records; manager
// thread only.

#include <algorithm>
#include <set>

#include "src/engine/download_manager.h"
#include "src/engine/records.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"

namespace vespar {
namespace {

// The saved parts of one file are used only together and only when they are
// exactly the first ranges of the division the file gets now, from a file of
// the size the server reports now. Anything else would splice old bytes onto
// a new file or leave a range that nobody fetches.
bool SavedPartsFit(std::vector<const CPartRecord*> parts, const std::u16string& fileName,
                   int64_t fileSize, const FileDivision& division) {
  if (static_cast<int64_t>(parts.size()) > division.count) return false;
  std::sort(parts.begin(), parts.end(), [](const CPartRecord* a, const CPartRecord* b) {
    return a->startOffset < b->startOffset;
  });
  std::set<int32_t> indexes;
  for (size_t i = 0; i < parts.size(); ++i) {
    const CPartRecord& p = *parts[i];
    if (p.fileSize != fileSize || p.fileName != fileName) return false;
    if (p.startOffset != division.StartOf(i) || p.endOffset != division.EndOf(i))
      return false;
    if (p.currentOffset < p.startOffset || p.currentOffset > p.endOffset + 1) return false;
    if (p.partIndex < 0 || p.partIndex >= static_cast<int32_t>(parts.size())) return false;
    if (!indexes.insert(p.partIndex).second) return false;
  }
  return true;
}

}  // namespace

int CDownloadManager::RestoreSavedParts(const std::u16string& url) {
  if (quitting) return 1;
  std::vector<const CPartRecord*> mine;
  for (const CPartRecord& s : savedParts) {
    if (s.sourceUrl == url) mine.push_back(&s);
  }
  if (mine.empty()) return 0;
  if (!SavedPartsFit(mine, fileName, fileSize, CurrentDivision())) {
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
