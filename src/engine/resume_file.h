#pragma once

// The resume file on disk: where it lives, the atomic checkpoint writer and
// the reader that decides which saved parts may be resumed.
//
// The file stays on disk while the program runs. Every write replaces it
// atomically (staging file, write, sync, rename over, sync the folder), so a
// crash, a kill or a power cut at any moment leaves either the previous or
// the new file, never a torn one. It is removed only when every download is
// complete.
//
// Called on the manager thread only. File access goes through the file seam
// (src/platform/file_system.h) where it offers the operation.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/engine/resume_format.h"

namespace vespar {

struct CPartRecord;

// Paths of the resume folder, the resume file and its staging file.
struct ResumeLocation {
  std::string folder;   // documents folder + title
  std::string file;     // folder + "/" + title + ".qzx"
  std::string staging;  // folder + "/" + title + ".tmp"
};

// `documentsFolder` ends with "/"; the title is written in UTF-8.
ResumeLocation ResumeLocationFor(std::string_view documentsFolder,
                                 std::u16string_view title);

// The UTF-8 path of the part file of `entry` when the download folder is
// `folder`. The engine decides it (relative folder, ".tmp").
using PartFilePathFn = std::function<std::string(std::u16string_view folder,
                                                 const ResumeEntry& entry)>;

// Runs after the staging file is written and synced, before the rename.
// Returning false stops the write there, as a crash at that point would
// (tests use it; the staging file is left behind).
using BeforeRenameHook = std::function<bool()>;

struct ResumeWriteStatus {
  int error = 0;     // 0, or an errno value
  std::string what;  // the step that failed, for the log
  bool ok() const { return error == 0; }
};

// What a checkpoint records: every record of this run (as it would stand
// after a stop, see SavedState), then every saved part whose item no record
// of this run belongs to (same URL). A caller whose user discarded the saved
// parts passes none.
std::vector<ResumeEntry> CheckpointEntries(
    const std::vector<const CPartRecord*>& runRecords,
    const std::vector<ResumeEntry>& savedParts);

// What the writer last flushed of each part file: the offsets it recorded
// for the file's parts then, and the file's stamp. One writer keeps one, so
// that a part file whose recorded offsets have not moved since its last flush
// is neither flushed nor stamped again: a checkpoint then costs a flush only
// for the files that took bytes since the previous one, not for every file of
// the run. Should such a file have been deleted and made again meanwhile, its
// new stamp differs from the recorded one and the reader drops its parts.
class FlushedPartFiles {
 public:
  // The stamp recorded at the last flush of `path` when the file's parts,
  // given as `offsets`, are the same as then; 0 otherwise.
  uint64_t StampIfUnchanged(const std::string& path, const std::vector<int64_t>& offsets) const;
  void Remember(const std::string& path, std::vector<int64_t> offsets, uint64_t stamp);
  void Clear() { files_.clear(); }

 private:
  struct Flushed {
    std::vector<int64_t> offsets;
    uint64_t stamp = 0;
  };
  std::map<std::string, Flushed> files_;
};

// Writes `entries` with the header for `title` and `folder`, atomically.
// Before a part is recorded its part file's data is flushed (fdatasync), and
// an entry without a stamp takes its part file's; a part whose file is
// missing, has no stamp or cannot be flushed is written without the time
// lines (it will not be resumed). With `flushed`, files whose parts stand
// where they stood at their last flush keep that flush (see
// FlushedPartFiles). On any failure the previous resume file is left as it
// was.
ResumeWriteStatus WriteResumeFile(const ResumeLocation& location,
                                  std::u16string_view title,
                                  std::u16string_view folder,
                                  std::vector<ResumeEntry> entries,
                                  const PartFilePathFn& partPath,
                                  const BeforeRenameHook& beforeRename = {},
                                  FlushedPartFiles* flushed = nullptr);

// Every download is complete: no resume file remains.
ResumeWriteStatus RemoveResumeFile(const ResumeLocation& location);

// An open part file kept by the reader; closed (through the file seam) when
// destroyed. Move-only.
class HeldFile {
 public:
  explicit HeldFile(int fd = -1) : fd_(fd) {}
  HeldFile(HeldFile&& other) noexcept : fd_(other.Release()) {}
  HeldFile& operator=(HeldFile&& other) noexcept;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile();

  int fd() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

struct ResumeReadResult {
  // False when the file is missing, empty, damaged, too large or written by
  // another title: nothing is resumed and the folder is not replaced.
  bool belongs = false;
  std::optional<std::u16string> folder;  // FILEPATH, unless "NULL" or empty
  // Parts that may be resumed, in file order, with SavedState applied. Their
  // files are whole-file checked later (see resume_restore.h).
  std::vector<ResumeEntry> parts;
  // One open descriptor per part file of a listed part, however many parts
  // share it.
  std::vector<HeldFile> heldFiles;
};

// Largest resume file the reader accepts (many times what a real one holds).
constexpr size_t kResumeFileLimit = 64u << 20;

// Reads the resume file. A part is kept only when it is plausible
// (IsPlausible), its FILENAME is one of `downloadNames`, its part file exists
// as a regular file with the stamp the part recorded, and that file holds at
// least the bytes the part claims. Part files are looked up under FILEPATH,
// or under `currentFolder` when FILEPATH is "NULL". The resume file itself is
// left in place; a staging file left by an interrupted write is removed.
ResumeReadResult ReadResumeFile(const ResumeLocation& location,
                                std::u16string_view title,
                                const std::vector<std::u16string>& downloadNames,
                                std::u16string_view currentFolder,
                                const PartFilePathFn& partPath);

// Copies the whole of `source` to `destination` (created anew or truncated).
// 0 on success, 1 when a file cannot be opened, read or written.
int CopyFileContents(const std::string& source, const std::string& destination);

}  // namespace vespar
