#pragma once

// The resume file as the manager's ResumeStore: reads the saved parts at
// start-up into savedParts, and writes every part of the run (plus the saved
// parts no record of this run has replaced) at checkpoints and at the end.
// Removes the file once everything is complete.

#include <chrono>
#include <vector>

#include "src/engine/checkpoint_store.h"
#include "src/engine/resume_file.h"
#include "src/engine/resume_format.h"

namespace vespar {

class ResumeFileStore : public ResumeStore {
 public:
  // `location` defaults to the documents folder and the application title.
  ResumeFileStore();
  explicit ResumeFileStore(ResumeLocation location);

  int ReadResumeFile(CDownloadManager& manager) override;
  int WriteResumeFile(CDownloadManager& manager) override;
  // Writes when a part ended, and at most every `progressInterval` while
  // bytes arrive.
  void Checkpoint(CDownloadManager& manager, CheckpointReason reason) override;

  void SetProgressInterval(std::chrono::milliseconds interval) { interval_ = interval; }

 private:
  ResumeLocation location_;
  // The parts as read, with the stamps they were validated with.
  std::vector<ResumeEntry> read_;
  std::chrono::milliseconds interval_{5000};
  std::chrono::steady_clock::time_point lastWrite_{};
};

// The UTF-8 path of an entry's part file below `folder`; empty when the
// entry's URL or name would leave the folder.
std::string PartFilePathOf(std::u16string_view folder, const ResumeEntry& entry);

}  // namespace vespar
