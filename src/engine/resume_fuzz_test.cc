// Random and mutated input for the resume-file parser: it must never crash,
// hang or allocate without bound, and whatever it accepts as plausible must
// describe a real range of a real file. Fixed seeds keep runs repeatable.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "src/engine/resume_format.h"

namespace vespar {
namespace {

std::string RealResumeText() {
  std::vector<ResumeEntry> entries;
  for (int i = 0; i < 4; ++i) {
    ResumeEntry e;
    e.partIndex = i;
    e.content = u"http://cdn.example/c/\uD30C\uC77C.pak";
    e.fileName = u"\uD30C\uC77C.pak";
    e.fileSize = 4000;
    e.state = static_cast<int16_t>(3 + i);
    e.startOffset = i * 1000;
    e.endOffset = i * 1000 + 999;
    e.currentOffset = i * 1000 + 250 * i;
    e.hasStamp = i != 2;
    e.stamp = 0x01DC2B3C80000000ull + static_cast<uint64_t>(i);
    entries.push_back(e);
  }
  return FormatResumeText(u"Vespar Downloader", u"/home/p/Downloads/", entries);
}

// Checks what the program relies on for every parsed document.
void CheckDocument(const ResumeDocument& doc) {
  EXPECT_LE(doc.guid.size(), kResumeValueLimit);
  EXPECT_LE(doc.folder.size(), kResumeValueLimit);
  if (doc.declaredCount >= 0) {
    EXPECT_LE(doc.entries.size(), static_cast<size_t>(doc.declaredCount));
  } else {
    EXPECT_TRUE(doc.entries.empty());
  }
  for (const ResumeEntry& e : doc.entries) {
    EXPECT_LE(e.content.size(), kResumeValueLimit);
    EXPECT_LE(e.fileName.size(), kResumeValueLimit);
    if (!IsPlausible(e)) continue;
    EXPECT_GE(e.startOffset, 0);
    EXPECT_LE(e.startOffset, e.currentOffset);
    EXPECT_LT(e.endOffset, e.fileSize);
    EXPECT_LE(e.currentOffset - 1, e.endOffset);
  }
}

TEST(ResumeFuzzTest, RandomBytes) {
  std::mt19937 random(20240611);
  static const char kAlphabet[] = "[]=\r\n-0123456789FILE_0PARTINDEXGUID";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 600, '\0');
    bool structured = round % 2 == 0;  // half of them from INI-ish pieces
    for (char& c : text) {
      c = structured ? kAlphabet[random() % (sizeof kAlphabet - 1)]
                     : static_cast<char>(random() & 0xFF);
    }
    SCOPED_TRACE(round);
    CheckDocument(ParseResumeText(text));
    if (HasFailure()) return;
  }
}

TEST(ResumeFuzzTest, MutatedRealFile) {
  const std::string real = RealResumeText();
  ResumeDocument original = ParseResumeText(real);
  ASSERT_TRUE(original.complete);
  ASSERT_EQ(4u, original.entries.size());

  std::mt19937 random(7);
  static const std::string kInserts[] = {
      "\r\n", "[", "]", "=", "-", "9999999999999999999999", "[FILE_0000]\r\n",
      "FILEPARTIONCOUNT=2147483647\r\n", std::string(300, 'x'),
      std::string("\0", 1), "\xED\xA0\x80", "\xFF\xFE"};
  for (int round = 0; round < 3000; ++round) {
    std::string text = real;
    int edits = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < edits && !text.empty(); ++i) {
      size_t at = random() % text.size();
      switch (random() % 4) {
        case 0:  // flip a byte
          text[at] = static_cast<char>(text[at] ^ (1 << (random() % 8)));
          break;
        case 1:  // drop a run
          text.erase(at, random() % 40);
          break;
        case 2:  // insert something meaningful
          text.insert(at, kInserts[random() % std::size(kInserts)]);
          break;
        default:  // truncate
          text.resize(at);
          break;
      }
    }
    SCOPED_TRACE(round);
    CheckDocument(ParseResumeText(text));
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace vespar
