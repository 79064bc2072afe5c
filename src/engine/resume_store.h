#pragma once

// The resume store the download manager runs with: the resume file on disk
// (resume_file.h) wired to the manager's fields.
//
// - ReadResumeFile (MGRM_INIT) waits until start-up has finished the download
//   list, reads the file, and fills downloadFolder, savedFolder, savedParts,
//   savedPartsCopy and heldFiles. The file stays on disk.
// - Checkpoint rewrites the file atomically at most once per interval (5 s):
//   a change that comes sooner (bytes written, a part ended) is put off until
//   the interval has passed, and the manager wakes for it then
//   (CheckpointDueInMs). So a crash loses at most the last interval's bytes,
//   and a run of small files costs one write per interval, not one per file.
//   WriteResumeFile writes at once when the manager thread ends, or removes
//   the file once every download is complete (allDone).
// - A part file is flushed before offsets pointing into it are recorded, and
//   only when they moved since its last flush (FlushedPartFiles).
// - Every write records this run's part records as they would stand after a
//   stop, followed by the saved parts still in the manager's savedParts that
//   no record of this run has replaced. Saved parts the user discarded
//   (MGRM_DISCARD_SAVED empties savedParts) are therefore gone for good.
//
// All calls come from the manager thread.

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "src/engine/checkpoint_store.h"
#include "src/engine/resume_file.h"
#include "src/engine/resume_format.h"

namespace vespar {

class ManualResetEvent;

class FileResumeStore : public ResumeStore {
 public:
  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

  struct Options {
    // Where the file lives; unset: DefaultResumeLocation() at the first read
    // or write (ApplicationTitle is known by then).
    std::optional<ResumeLocation> location;
    // Signalled once the download list is final; borrowed, must outlive the
    // store. Null: DownloadListFinished().
    const ManualResetEvent* listFinished = nullptr;
    // How long the reader waits for the list. Start-up finishes it within its
    // own time-outs; when this passes all the same, nothing is resumed and
    // the file on disk is left alone for the next run.
    int listWaitMs = 10 * 60 * 1000;
    // Checkpoints come at most this often.
    std::chrono::milliseconds interval = std::chrono::seconds(5);
    // The steady clock; tests pass their own. Null: steady_clock::now.
    SteadyNow now;
    // Runs between the staging write and the rename (see resume_file.h).
    BeforeRenameHook beforeRename;
    // Called after every write or removal with its result, on the manager
    // thread.
    std::function<void(const ResumeWriteStatus&)> onWritten;
  };

  FileResumeStore();
  explicit FileResumeStore(Options options);
  FileResumeStore(const FileResumeStore&) = delete;
  FileResumeStore& operator=(const FileResumeStore&) = delete;

  // 0 after reading parts, 1 when nothing was resumed (no file, another
  // title, damaged, or the list never became final).
  int ReadResumeFile(CDownloadManager& manager) override;
  // 0, or 1 when the file could not be replaced (the previous one stays).
  int WriteResumeFile(CDownloadManager& manager) override;
  // Called for every written block: one clock read and a compare unless a
  // checkpoint is due.
  void Checkpoint(CDownloadManager& manager, CheckpointReason reason) override;
  int CheckpointDueInMs() const override;

 private:
  const ResumeLocation& Location();
  std::vector<ResumeEntry> SavedEntries(const CDownloadManager& manager) const;
  int Write(CDownloadManager& manager);
  void Report(const ResumeWriteStatus& status);

  Options options_;
  std::optional<ResumeLocation> location_;
  // The parts as read, with the stamps they were validated with.
  std::vector<ResumeEntry> read_;
  // No checkpoint before this time; the first one is written at once.
  std::chrono::steady_clock::time_point nextWrite_{};
  // A change not yet in the file waits for nextWrite_.
  bool pending_ = false;
  FlushedPartFiles flushed_;
  // Set when the reader gave up waiting for the list: the file on disk holds
  // parts this run never saw, so it is not replaced.
  bool readSkipped_ = false;
  int lastError_ = 0;
};

// The UTF-8 path of the part file of `entry` below `folder`, by the same
// rules as the engine's local paths; empty when the item's folder would
// leave the download folder.
std::string ResumePartFilePath(std::u16string_view folder, const ResumeEntry& entry);

}  // namespace vespar
