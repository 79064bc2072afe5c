// The resume file as found on disk, damaged or hostile: the parsed parts,
// the plausibility check that decides which may be resumed, and a round trip
// through the writer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "src/engine/resume_format.h"
#include "tests/fuzz/fuzz_check.h"

namespace vespar {
namespace {

bool Writable(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) == std::u16string_view::npos;
}

void CheckPlausible(const ResumeEntry& e) {
  if (!IsPlausible(e)) return;
  // What a range worker will rely on when it resumes this part.
  FUZZ_CHECK(e.startOffset >= 0 && e.endOffset < e.fileSize);
  FUZZ_CHECK(e.currentOffset >= e.startOffset && e.currentOffset - 1 <= e.endOffset);
  FUZZ_CHECK(!e.fileName.empty() && e.fileName.find(u'/') == std::u16string::npos);
}

}  // namespace
}  // namespace vespar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vespar;
  ResumeDocument doc = ParseResumeText(FuzzBytes(data, size));
  FUZZ_CHECK(doc.guid.size() <= kResumeValueLimit);
  FUZZ_CHECK(doc.folder.size() <= kResumeValueLimit);
  FUZZ_CHECK(doc.entries.size() <= size / 8);
  if (doc.complete) FUZZ_CHECK(doc.entries.size() == static_cast<size_t>(doc.declaredCount));

  std::vector<ResumeEntry> kept;
  for (const ResumeEntry& e : doc.entries) {
    FUZZ_CHECK(e.content.size() <= kResumeValueLimit);
    FUZZ_CHECK(e.fileName.size() <= kResumeValueLimit);
    CheckPlausible(e);
    if (Writable(e.content) && Writable(e.fileName)) {
      kept.push_back(e);
      kept.back().wellFormed = true;
    }
  }

  // What the reader took in, written out and read again, is the same.
  if (!Writable(doc.guid) || !Writable(doc.folder)) return 0;
  std::string text = FormatResumeText(doc.guid, doc.folder, doc.entries);
  FUZZ_CHECK(text.empty() == kept.empty());
  if (kept.empty()) return 0;
  ResumeDocument again = ParseResumeText(text);
  FUZZ_CHECK(again.complete);
  FUZZ_CHECK(again.guid == doc.guid && again.folder == doc.folder);
  FUZZ_CHECK(again.declaredCount == static_cast<int32_t>(kept.size()));
  FUZZ_CHECK(again.entries == kept);
  return 0;
}
