#pragma once

// The text of the resume file, without any file access: formatting a set of
// saved parts and parsing bytes back. The parser is passive and accepts any
// byte string, so it can be fed damaged or hostile input.
//
// Layout (UTF-8, every line ending in CR LF, numbers in decimal):
//
//   [REDAR_AVEDAVORUR_IVAZORAVUD]
//   GUID=<application title>
//   FILEPARTIONCOUNT=<number of part sections>
//   FILEPATH=<download folder, ending in "/">
//   [FILE_0000]
//   PARTINDEX= DOWNTYPE= CONTENT= FILENAME= FILESIZE= STATES=
//   STARTOFFSET= ENDOFFSET= CURRENTOFFSET= [LOW_CRTIME= HIGH_CRTIME=]
//   [FILE_0001] ...
//
// An empty set of parts is an empty (0-byte) file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vespar {

struct CPartRecord;

// Longest value the reader keeps, in UTF-16 units.
constexpr size_t kResumeValueLimit = 259;

// One part as the resume file records it.
struct ResumeEntry {
  int32_t partIndex = -1;
  int16_t downType = 0;
  std::u16string content;  // the item URL (CPartRecord::sourceUrl)
  std::u16string fileName;
  int64_t fileSize = 0;
  int16_t state = 0;
  int64_t startOffset = 0;
  int64_t endOffset = 0;
  int64_t currentOffset = 0;
  // The part file's creation stamp (see resume_stamp.h), written only when
  // the part file existed and had a known stamp.
  bool hasStamp = false;
  uint64_t stamp = 0;
  // Parser only: every number of the section was plain decimal text that fit
  // its field. Formatting ignores it.
  bool wellFormed = true;

  bool operator==(const ResumeEntry&) const = default;
};

struct ResumeDocument {
  std::u16string guid;    // "NONE" when the header has none
  std::u16string folder;  // FILEPATH; "NULL" when absent or written so
  int32_t declaredCount = 0;  // FILEPARTIONCOUNT
  // The sections FILE_0000 .. FILE_<declaredCount - 1>, in that order.
  std::vector<ResumeEntry> entries;
  // False when the text is damaged as a whole: a declared section or one of
  // a section's keys is missing. Such a file resumes nothing.
  bool complete = false;
};

// The text for `folder` and `entries`, in the given order. Empty when there
// are no entries. An entry whose text values hold a line break or a NUL
// cannot be written faithfully and is left out (the count says so).
std::string FormatResumeText(std::u16string_view title,
                             std::u16string_view folder,
                             const std::vector<ResumeEntry>& entries);

// Parses any byte string. Values are cut to kResumeValueLimit UTF-16 units;
// numbers are read the way atoi reads them (saturating). Only sections that
// exist are visited, so a huge FILEPARTIONCOUNT costs nothing.
ResumeDocument ParseResumeText(std::string_view text);

// The signed 32-bit halves the file stores for a 64-bit stamp, and back.
int32_t StampLow(uint64_t stamp);
int32_t StampHigh(uint64_t stamp);
uint64_t StampFromHalves(int32_t low, int32_t high);

// True when the numbers of `e` can describe a part of a real file: a known
// state, a non-negative index, size and start, start <= end + 1 (an empty
// range is allowed), the range inside the file, start <= current <=
// end + 1, a complete part (state 2) exactly at end + 1, a URL and a plain
// file name (no folder, not "." or "..").
bool IsPlausible(const ResumeEntry& e);

// The state a part is saved with: as it would stand after a stop. A running,
// waiting or connecting part (0, 1, 5) becomes stopped (4); a part whose
// current offset passed its end becomes complete (2); others keep theirs.
int16_t SavedState(int16_t state, int64_t currentOffset, int64_t endOffset);

// The saved form of a live record (stamp not filled in), with SavedState
// applied. Reads the record's atomics; call on the manager thread.
ResumeEntry EntryFromRecord(const CPartRecord& record);

// Fills the saved fields of `record` from `entry`; its other fields keep
// their values.
void FillRecord(const ResumeEntry& entry, CPartRecord* record);

}  // namespace vespar
