#include "src/engine/resume_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <utility>

#include "src/engine/ini_reader.h"
#include "src/engine/part_record.h"
#include "src/platform/code_page.h"
#include "src/platform/text.h"

namespace vespar {
namespace {

constexpr std::string_view kHeader = "REDAR_AVEDAVORUR_IVAZORAVUD";
constexpr std::string_view kSectionPrefix = "FILE_";

void AddLine(std::string* out, std::string_view key, std::string_view value) {
  out->append(key);
  out->push_back('=');
  out->append(value);
  out->append("\r\n");
}

void AddNumber(std::string* out, std::string_view key, int64_t value) {
  AddLine(out, key, std::to_string(value));
}

bool WritableValue(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) ==
         std::u16string_view::npos;
}

std::string SectionName(int32_t position) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "FILE_%04d", position);
  return buffer;
}

// A value as the reader keeps it: UTF-16, at most kResumeValueLimit units,
// never ending in half of a surrogate pair.
std::u16string CutValue(std::string_view bytes) {
  std::u16string value = FromUtf8(bytes);
  if (value.size() > kResumeValueLimit) {
    value.resize(kResumeValueLimit);
    if (value.back() >= 0xD800 && value.back() <= 0xDBFF) value.pop_back();
  }
  return value;
}

// Plain decimal text ("-" and digits only) whose value fits in Int.
template <typename Int>
bool IsDecimal(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) return false;
    ascii.push_back(static_cast<char>(c));
  }
  Int value;
  auto [end, error] =
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  return error == std::errc() && end == ascii.data() + ascii.size() &&
         !ascii.empty();
}

// The position a section name stands for when it is exactly the name the
// writer gives position i ("FILE_%04d"); -1 otherwise.
int64_t SectionPosition(std::string_view name) {
  if (name.size() < kSectionPrefix.size()) return -1;
  for (size_t i = 0; i < kSectionPrefix.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kSectionPrefix[i]) return -1;
  }
  std::string_view digits = name.substr(kSectionPrefix.size());
  if (digits.size() < 4 || digits.size() > 10) return -1;
  if (digits.size() > 4 && digits.front() == '0') return -1;
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

class SectionReader {
 public:
  SectionReader(const IniReader& ini, std::string_view section)
      : ini_(ini), section_(section) {}

  std::u16string Text(std::string_view key) {
    if (!ini_.Has(section_, key)) missing_ = true;
    return CutValue(ini_.Get(section_, key, ""));
  }

  template <typename Int>
  Int Number(std::string_view key) {
    std::u16string text = Text(key);
    if (!IsDecimal<Int>(text)) wellFormed_ = false;
    if constexpr (sizeof(Int) == 8) {
      return AtoI64(text);
    } else {
      return static_cast<Int>(AtoI(text));
    }
  }

  bool missing() const { return missing_; }
  bool wellFormed() const { return wellFormed_; }

 private:
  const IniReader& ini_;
  std::string_view section_;
  bool missing_ = false;
  bool wellFormed_ = true;
};

}  // namespace

int32_t StampLow(uint64_t stamp) {
  return static_cast<int32_t>(static_cast<uint32_t>(stamp & 0xFFFFFFFFu));
}

int32_t StampHigh(uint64_t stamp) {
  return static_cast<int32_t>(static_cast<uint32_t>(stamp >> 32));
}

uint64_t StampFromHalves(int32_t low, int32_t high) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) |
         static_cast<uint32_t>(low);
}

std::string FormatResumeText(std::u16string_view title,
                             std::u16string_view folder,
                             const std::vector<ResumeEntry>& entries) {
  std::vector<const ResumeEntry*> kept;
  for (const ResumeEntry& e : entries) {
    if (WritableValue(e.content) && WritableValue(e.fileName)) {
      kept.push_back(&e);
    }
  }
  if (kept.empty()) return {};

  std::string out;
  out.append("[").append(kHeader).append("]\r\n");
  AddLine(&out, "GUID", ToUtf8(title));
  AddNumber(&out, "FILEPARTIONCOUNT", static_cast<int64_t>(kept.size()));
  // A folder whose name holds a line break would write lines of its own into
  // the file; such a folder is not recorded, so its parts are not resumed.
  AddLine(&out, "FILEPATH", WritableValue(folder) ? ToUtf8(folder) : std::string("NULL"));
  int32_t position = 0;
  for (const ResumeEntry* e : kept) {
    out.append("[").append(SectionName(position++)).append("]\r\n");
    AddNumber(&out, "PARTINDEX", e->partIndex);
    AddNumber(&out, "DOWNTYPE", e->downType);
    AddLine(&out, "CONTENT", ToUtf8(e->content));
    AddLine(&out, "FILENAME", ToUtf8(e->fileName));
    AddNumber(&out, "FILESIZE", e->fileSize);
    AddNumber(&out, "STATES", e->state);
    AddNumber(&out, "STARTOFFSET", e->startOffset);
    AddNumber(&out, "ENDOFFSET", e->endOffset);
    AddNumber(&out, "CURRENTOFFSET", e->currentOffset);
    if (e->hasStamp) {
      AddNumber(&out, "LOW_CRTIME", StampLow(e->stamp));
      AddNumber(&out, "HIGH_CRTIME", StampHigh(e->stamp));
    }
  }
  return out;
}

ResumeDocument ParseResumeText(std::string_view text) {
  IniReader ini(text);
  ResumeDocument doc;
  doc.guid = CutValue(ini.Get(kHeader, "GUID", "NONE"));
  doc.declaredCount = AtoI(CutValue(ini.Get(kHeader, "FILEPARTIONCOUNT", "0")));
  doc.folder = CutValue(ini.Get(kHeader, "FILEPATH", "NULL"));
  bool headerWhole = ini.Has(kHeader, "GUID") &&
                     ini.Has(kHeader, "FILEPARTIONCOUNT") &&
                     ini.Has(kHeader, "FILEPATH") && doc.declaredCount >= 0;

  // Visit the sections the file has, never the count it claims.
  std::vector<std::pair<int64_t, std::string_view>> sections;
  for (std::string_view name : ini.SectionNames()) {
    int64_t position = SectionPosition(name);
    if (position >= 0 && position < doc.declaredCount) {
      sections.emplace_back(position, name);
    }
  }
  std::sort(sections.begin(), sections.end());
  // Canonical names make positions unique, so all are there exactly when
  // the numbers of found and declared sections agree.
  bool whole = headerWhole &&
               sections.size() == static_cast<size_t>(doc.declaredCount);

  doc.entries.reserve(sections.size());
  for (const auto& [position, name] : sections) {
    SectionReader section(ini, name);
    ResumeEntry e;
    e.partIndex = section.Number<int32_t>("PARTINDEX");
    e.downType = section.Number<int16_t>("DOWNTYPE");
    e.content = section.Text("CONTENT");
    e.fileName = section.Text("FILENAME");
    e.fileSize = section.Number<int64_t>("FILESIZE");
    e.state = section.Number<int16_t>("STATES");
    e.startOffset = section.Number<int64_t>("STARTOFFSET");
    e.endOffset = section.Number<int64_t>("ENDOFFSET");
    e.currentOffset = section.Number<int64_t>("CURRENTOFFSET");
    if (section.missing()) whole = false;
    if (ini.Has(name, "LOW_CRTIME") && ini.Has(name, "HIGH_CRTIME")) {
      int32_t low = section.Number<int32_t>("LOW_CRTIME");
      int32_t high = section.Number<int32_t>("HIGH_CRTIME");
      e.stamp = StampFromHalves(low, high);
      e.hasStamp = true;
    }
    e.wellFormed = section.wellFormed();
    doc.entries.push_back(std::move(e));
  }
  doc.complete = whole;
  return doc;
}

bool IsPlausible(const ResumeEntry& e) {
  if (!e.wellFormed) return false;
  if (e.state < PART_WAITING || e.state > PART_FAILED) return false;
  if (e.partIndex < 0 || e.fileSize < 0 || e.startOffset < 0) return false;
  // endOffset is inclusive; checked first so that endOffset + 1 cannot overflow.
  if (e.endOffset >= e.fileSize) return false;
  if (e.startOffset > e.endOffset + 1) return false;
  if (e.currentOffset < e.startOffset || e.currentOffset > e.endOffset + 1)
    return false;
  if (e.state == PART_COMPLETE && e.currentOffset != e.endOffset + 1)
    return false;
  if (e.content.empty()) return false;
  const std::u16string& name = e.fileName;
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.find_first_of(std::u16string_view(u"/\0", 2)) !=
      std::u16string::npos)
    return false;
  return true;
}

int16_t SavedState(int16_t state, int64_t currentOffset, int64_t endOffset) {
  if (currentOffset > endOffset) return PART_COMPLETE;
  if (state == PART_WAITING || state == PART_TRANSFERRING ||
      state == PART_CONNECTING)
    return PART_STOPPED;
  return state;
}

ResumeEntry EntryFromRecord(const CPartRecord& record) {
  ResumeEntry e;
  e.partIndex = record.partIndex;
  e.downType = record.downType;
  e.content = record.sourceUrl;
  e.fileName = record.fileName;
  e.fileSize = record.fileSize;
  e.startOffset = record.startOffset;
  e.endOffset = record.endOffset;
  e.currentOffset = record.currentOffset.load();
  e.state = SavedState(record.state.load(), e.currentOffset, e.endOffset);
  return e;
}

void FillRecord(const ResumeEntry& entry, CPartRecord* record) {
  record->partIndex = entry.partIndex;
  record->downType = entry.downType;
  record->sourceUrl = entry.content;
  record->connectUrl = entry.content;
  record->fileName = entry.fileName;
  record->fileSize = entry.fileSize;
  record->state.store(entry.state);
  record->startOffset = entry.startOffset;
  record->endOffset = entry.endOffset;
  record->currentOffset.store(entry.currentOffset);
  record->position.store(entry.currentOffset);
}

}  // namespace vespar
