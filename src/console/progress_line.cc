#include "src/console/progress_line.h"

#include <cstdio>

#include "resources/resources.h"
#include "src/app/display_format.h"
#include "src/platform/code_page.h"

namespace vespar {
namespace {

constexpr int kStringWaiting = 10002;   // "대기"
constexpr int kStringComplete = 10004;  // "완료"
constexpr int kStringStopped = 10009;   // "끊어짐"
constexpr int kStringRemaining = 10015; // "남은 시간 :"
constexpr int kStringElapsed = 10016;   // "경과 시간 :"

std::string Percent(int64_t part, int64_t whole) {
  char text[32];
  double value = whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) * 100.0
                           : 100.0;  // an empty file is complete as soon as it exists
  std::snprintf(text, sizeof text, "%.2f%%", value);
  return text;
}

// FormatDuration pads with blanks for the window's fixed text areas.
std::string Trimmed(const std::u16string& text) {
  std::string utf8 = ToUtf8(text);
  size_t first = utf8.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : utf8.substr(first);
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Decodes one UTF-8 sequence at `i`; a broken byte counts as one character.
char32_t NextCodePoint(std::string_view s, size_t* i) {
  unsigned char lead = static_cast<unsigned char>(s[*i]);
  size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (*i + length > s.size()) length = 1;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(s[*i + k]) & 0x3F);
  *i += length;
  return c;
}

// The longest prefix of `utf8` that fits `columns`, whole characters only.
std::string CutToWidth(std::string_view utf8, size_t columns) {
  size_t width = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t next = i;
    char32_t c = NextCodePoint(utf8, &next);
    size_t w = IsWide(c) ? 2 : 1;
    if (width + w > columns) break;
    width += w;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

}  // namespace

ProgressDisplay::ProgressDisplay()
    : speed_(u"0KB/sec"), remaining_(ResourceString(kStringWaiting)) {}

void ProgressDisplay::OnItemAdded(const ItemInfoRecord& record) { totalSize_ = record.total; }

void ProgressDisplay::OnItemBegin(const ItemPlanRecord& record) {
  fileName_ = std::u16string(record.fileName.view());
  fileSize_ = record.fileSize;
  totalSize_ = record.totalSize;
  totalReceived_ = record.totalWritten;
  segments_.clear();
}

void ProgressDisplay::OnPartStarted(const PartRowRecord& record) {
  segments_.try_emplace(record.part, Segment{record.start, record.current - record.start});
  if (record.totalWritten > 0) {
    totalReceived_ = record.totalWritten;
    receivedAtStart_ = record.totalWritten;
  }
}

void ProgressDisplay::OnProgress(const void* part, int64_t partReceived,
                                 int64_t totalReceived) {
  auto found = segments_.find(part);
  if (found != segments_.end()) found->second.received = partReceived;
  totalReceived_ = totalReceived;
}

void ProgressDisplay::StartOrResume(uint32_t now) {
  stopped_ = false;
  startTick_ = now;
  receivedAtStart_ = totalReceived_;
}

void ProgressDisplay::Stop() {
  stopped_ = true;
  remaining_ = ResourceString(kStringStopped);
}

void ProgressDisplay::Complete() {
  complete_ = true;
  remaining_ = ResourceString(kStringComplete);
}

int64_t ProgressDisplay::FileReceived() const {
  int64_t sum = 0;
  for (const auto& [part, segment] : segments_) sum += segment.received;
  return sum;
}

ProgressFigures ProgressDisplay::Tick(uint32_t now) {
  if (!complete_ && !stopped_ && now != startTick_) {
    RateFigures rate = ComputeRate(totalReceived_, receivedAtStart_, now, startTick_, totalSize_);
    if (rate.hasRemaining) remaining_ = FormatDuration(rate.remaining);
    ++elapsedSeconds_;
    speed_ = FormatByteSize(rate.rate) + u"/sec";
  }
  ProgressFigures f;
  f.fileName = fileName_;
  f.fileSize = fileSize_;
  f.fileReceived = FileReceived();
  f.totalSize = totalSize_;
  f.totalReceived = totalReceived_;
  f.speed = speed_;
  f.remaining = remaining_;
  f.elapsed = FormatDuration(elapsedSeconds_);
  return f;
}

size_t DisplayWidth(std::string_view utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) width += IsWide(NextCodePoint(utf8, &i)) ? 2 : 1;
  return width;
}

std::string FormatProgressLine(const ProgressFigures& f, size_t columns) {
  const std::string tail = " " + Percent(f.fileReceived, f.fileSize) + " | total " +
                           Percent(f.totalReceived, f.totalSize) + " | " + ToUtf8(f.speed) +
                           " | " + ToUtf8(ResourceString(kStringRemaining)) + " " +
                           Trimmed(f.remaining) + " | " +
                           ToUtf8(ResourceString(kStringElapsed)) + " " + Trimmed(f.elapsed);
  const std::string name = ToUtf8(f.fileName);
  const size_t tailWidth = DisplayWidth(tail);
  const size_t nameWidth = DisplayWidth(name);
  if (tailWidth + nameWidth <= columns) return name + tail;
  // The name gives way first, down to a few columns; then the whole line is cut.
  constexpr size_t kMinName = 8;
  if (tailWidth + kMinName <= columns) {
    return CutToWidth(name, columns - tailWidth - 1) + "~" + tail;
  }
  return CutToWidth(CutToWidth(name, kMinName - 1) + "~" + tail, columns);
}

void ConsoleOutput::Live(const std::string& line) {
  if (!live_) return;
  std::fprintf(out_, "\r\033[K%s", line.c_str());
  std::fflush(out_);
  shown_ = true;
}

void ConsoleOutput::ClearLive() {
  if (!live_ || !shown_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  shown_ = false;
}

void ConsoleOutput::Line(const std::string& line) {
  ClearLive();
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

}  // namespace vespar
