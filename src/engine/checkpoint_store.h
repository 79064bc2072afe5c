#pragma once

// What the manager asks of the resume file. The manager calls these on its
// own thread at fixed points; the store reads and writes the manager's
// fields (downloadFolder, savedFolder, workers, savedParts, savedPartsCopy,
// heldFiles, allDone) while it is called. Until a real store is installed
// the manager runs with NoResumeStore: nothing is saved or restored.

namespace vespar {

class CDownloadManager;

enum class CheckpointReason {
  kPartEnded,  // a part completed, stopped, failed or timed out
  kProgress,   // a block was written (the store decides how often to save)
  kDue,        // the time the store asked for (CheckpointDueInMs) has come
};

class ResumeStore {
 public:
  virtual ~ResumeStore() = default;
  // On MGRM_INIT, right after the manager has signalled that it is ready.
  virtual int ReadResumeFile(CDownloadManager& manager) = 0;
  // When the manager thread ends, and when a time-out left no part running.
  virtual int WriteResumeFile(CDownloadManager& manager) = 0;
  virtual void Checkpoint(CDownloadManager& manager, CheckpointReason reason) {}
  // How long until the store wants a kDue checkpoint for changes it has put
  // off; -1 when it wants none. The manager wakes for it even when no
  // message comes.
  virtual int CheckpointDueInMs() const { return -1; }
};

class NoResumeStore : public ResumeStore {
 public:
  int ReadResumeFile(CDownloadManager&) override { return 1; }
  int WriteResumeFile(CDownloadManager&) override { return 0; }
};

}  // namespace vespar
