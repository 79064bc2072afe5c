#pragma once

// The console's progress display: the numbers the window keeps for its two
// bars (the current file, one segment per part; all files) and its
// once-a-second refresh, turned into one line of text.
//
// Passive: the front end feeds it the notifications' figures and a
// millisecond tick, and asks for the line. One thread only.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "src/engine/records.h"

namespace vespar {

// What one tick shows.
struct ProgressFigures {
  std::u16string fileName;
  int64_t fileSize = 0;
  int64_t fileReceived = 0;   // sum over the current file's parts
  int64_t totalSize = 0;
  int64_t totalReceived = 0;
  std::u16string speed;       // FormatByteSize(rate) + "/sec"
  std::u16string remaining;   // FormatDuration text, or a state word
  std::u16string elapsed;     // FormatDuration(elapsed seconds)
};

class ProgressDisplay {
 public:
  ProgressDisplay();

  // DLGN_ITEM_ADDED: the running total of all sizes.
  void OnItemAdded(const ItemInfoRecord& record);
  // DLGN_ITEM_BEGIN: a new current file; its segments are cleared.
  void OnItemBegin(const ItemPlanRecord& record);
  // DLGN_PART_STARTED: a segment for the part (kept when it has one). A
  // restored part carries what is already on disk, which becomes the base of
  // the average speed.
  void OnPartStarted(const PartRowRecord& record);
  // DLGN_PROGRESS: the part's received bytes and the manager's total.
  void OnProgress(const void* part, int64_t partReceived, int64_t totalReceived);

  // The transfer (re)starts at `now`: the average counts from here.
  void StartOrResume(uint32_t now);
  // Everything stopped (DLGN_IDLE, DLGN_CANCELLED): speed, remaining and
  // elapsed time stay as they are until a resume.
  void Stop();
  void Complete();

  // The once-a-second refresh at `now`.
  ProgressFigures Tick(uint32_t now);

  int64_t totalReceived() const { return totalReceived_; }
  int64_t totalSize() const { return totalSize_; }
  int64_t elapsedSeconds() const { return elapsedSeconds_; }
  bool stopped() const { return stopped_; }

 private:
  struct Segment {
    int64_t start = 0;
    int64_t received = 0;
  };
  int64_t FileReceived() const;

  std::u16string fileName_;
  int64_t fileSize_ = 0;
  std::map<const void*, Segment> segments_;  // bar 1, by part
  int64_t totalSize_ = 0;                    // bar 2's total
  int64_t totalReceived_ = 0;                // bar 2's done
  int64_t receivedAtStart_ = 0;
  uint32_t startTick_ = 0;
  int64_t elapsedSeconds_ = 0;
  bool stopped_ = false;
  bool complete_ = false;
  std::u16string speed_;
  std::u16string remaining_;
};

// "name 45.20% | total 30.11% | 1.50 MB/sec | 남은 시간 : 12초 | 경과 시간 :
// 1분 05초" in UTF-8, at most `columns` terminal columns wide (the file name
// is shortened first; wide characters count two columns).
std::string FormatProgressLine(const ProgressFigures& figures, size_t columns);

// Terminal columns of UTF-8 text: two for East Asian wide characters.
size_t DisplayWidth(std::string_view utf8);

// Where the console's lines go. On a terminal one live line is redrawn in
// place and cleared before any other line; elsewhere only whole lines are
// written.
class ConsoleOutput {
 public:
  ConsoleOutput(std::FILE* out, bool live) : out_(out), live_(live) {}
  bool live() const { return live_; }
  // Replaces the live line (terminals only).
  void Live(const std::string& line);
  // Clears the live line so that other text starts at the left margin.
  void ClearLive();
  // A permanent line.
  void Line(const std::string& line);

 private:
  std::FILE* out_;
  bool live_;
  bool shown_ = false;
};

}  // namespace vespar
