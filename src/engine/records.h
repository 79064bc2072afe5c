#pragma once

// Records carried by the engine's messages. Each travels as a heap object
// owned by the receiver (PostThreadRecord / TakeRecord, or the WindowSink's
// deleter).
//
// Texts in notification records sit in fixed buffers of 260 UTF-16 units,
// zero-filled, holding at most 259 units; longer texts are cut (never in the
// middle of a surrogate pair). The engine itself keeps every text whole.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vespar {

struct CPartWorker;

constexpr size_t kTextBufferUnits = 260;

struct TextBuffer {
  char16_t text[kTextBufferUnits] = {};

  TextBuffer() = default;
  explicit TextBuffer(std::u16string_view value) { Set(value); }
  void Set(std::u16string_view value);
  std::u16string_view view() const;
};

// With DLGN_ITEM_ADDED.
struct ItemInfoRecord {
  int64_t size = 0;
  int64_t total = 0;  // totalSize after adding this item
  TextBuffer fileName;
};

// With DLGN_ITEM_BEGIN.
struct ItemPlanRecord {
  int64_t totalSize = 0;
  int64_t fileSize = 0;
  int64_t totalWritten = 0;
  int64_t fileWritten = 0;
  TextBuffer folder;
  TextBuffer fileName;
  TextBuffer url;
};

// With DLGN_PART_STARTED.
struct PartRowRecord {
  CPartWorker* part = nullptr;
  int64_t start = 0;
  int64_t current = 0;
  int64_t end = 0;
  int64_t fileSize = 0;
  int16_t state = -1;         // saved state of a restored part, else -1
  int64_t totalWritten = 0;   // for a restored part, totalWritten after it; else 0
  TextBuffer fileName;
  TextBuffer source;          // the URL connected to, or "peer"
};

// With MGRM_WRITE_DATA.
struct WriteRequest {
  CPartWorker* part = nullptr;
  uint32_t length = 0;
  // The worker's own receive buffer, lent without a copy: the worker touches
  // it again only after the manager has set the part's writeDone.
  const char* data = nullptr;
};

// With MGRM_SET_FOLDER.
struct FolderChangeRecord {
  std::u16string folder;          // the new download folder
  bool resetCurrentItem = false;  // the saved state was discarded: start over
};

}  // namespace vespar
