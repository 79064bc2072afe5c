#include "src/engine/resume_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "src/engine/part_record.h"
#include "src/platform/code_page.h"

namespace vespar {
namespace {

ResumeEntry MakeEntry(int32_t index, int64_t start, int64_t end, int64_t current) {
  ResumeEntry e;
  e.partIndex = index;
  e.content = u"http://cdn.example/client/\uAC8C\uC784.pak";
  e.fileName = u"\uAC8C\uC784.pak";
  e.fileSize = 3000;
  e.state = PART_STOPPED;
  e.startOffset = start;
  e.endOffset = end;
  e.currentOffset = current;
  return e;
}

TEST(ResumeFormatTest, ExactText) {
  ResumeEntry first = MakeEntry(0, 2000, 2999, 2500);
  first.hasStamp = true;
  first.stamp = 0x01DC2B3C80000001ull;  // low half above 2^31 - 1
  ResumeEntry second = MakeEntry(1, 0, 1999, 0);
  second.downType = -3;
  second.state = PART_TIMEOUT;
  const std::string expected =
      "[REDAR_AVEDAVORUR_IVAZORAVUD]\r\n"
      "GUID=Vespar Downloader\r\n"
      "FILEPARTIONCOUNT=2\r\n"
      "FILEPATH=/home/p/\xEB\x8B\xA4\xEC\x9A\xB4/\r\n"
      "[FILE_0000]\r\n"
      "PARTINDEX=0\r\n"
      "DOWNTYPE=0\r\n"
      "CONTENT=http://cdn.example/client/\xEA\xB2\x8C\xEC\x9E\x84.pak\r\n"
      "FILENAME=\xEA\xB2\x8C\xEC\x9E\x84.pak\r\n"
      "FILESIZE=3000\r\n"
      "STATES=4\r\n"
      "STARTOFFSET=2000\r\n"
      "ENDOFFSET=2999\r\n"
      "CURRENTOFFSET=2500\r\n"
      "LOW_CRTIME=-2147483647\r\n"
      "HIGH_CRTIME=31206204\r\n"
      "[FILE_0001]\r\n"
      "PARTINDEX=1\r\n"
      "DOWNTYPE=-3\r\n"
      "CONTENT=http://cdn.example/client/\xEA\xB2\x8C\xEC\x9E\x84.pak\r\n"
      "FILENAME=\xEA\xB2\x8C\xEC\x9E\x84.pak\r\n"
      "FILESIZE=3000\r\n"
      "STATES=3\r\n"
      "STARTOFFSET=0\r\n"
      "ENDOFFSET=1999\r\n"
      "CURRENTOFFSET=0\r\n";
  EXPECT_EQ(expected, FormatResumeText(u"Vespar Downloader", u"/home/p/\uB2E4\uC6B4/",
                                       {first, second}));
}

TEST(ResumeFormatTest, EmptySetIsEmptyText) {
  EXPECT_EQ("", FormatResumeText(u"Vespar Downloader", u"/d/", {}));
  ResumeDocument doc = ParseResumeText("");
  EXPECT_EQ(u"NONE", doc.guid);
  EXPECT_EQ(u"NULL", doc.folder);
  EXPECT_TRUE(doc.entries.empty());
  EXPECT_FALSE(doc.complete);
}

TEST(ResumeFormatTest, RoundTrip) {
  std::vector<ResumeEntry> entries;
  for (int i = 0; i < 12; ++i) {  // past FILE_0009, so numbering matters
    ResumeEntry e = MakeEntry(i, i * 100, i * 100 + 99, i * 100 + i);
    e.fileSize = 1200;
    e.hasStamp = i % 2 == 0;
    e.stamp = e.hasStamp ? 0xFFFFFFFF00000000ull + i : 0;
    e.downType = static_cast<int16_t>(i % 3);
    entries.push_back(e);
  }
  entries[11].fileSize = INT64_MAX;
  entries[11].endOffset = INT64_MAX - 1;
  ResumeDocument doc =
      ParseResumeText(FormatResumeText(u"Vespar Downloader", u"/d/", entries));
  EXPECT_TRUE(doc.complete);
  EXPECT_EQ(u"Vespar Downloader", doc.guid);
  EXPECT_EQ(u"/d/", doc.folder);
  EXPECT_EQ(12, doc.declaredCount);
  EXPECT_EQ(entries, doc.entries);
}

TEST(ResumeFormatTest, EntryWithLineBreakIsLeftOut) {
  ResumeEntry bad = MakeEntry(0, 0, 99, 0);
  bad.content = u"http://h/a\r\nGUID=x";
  ResumeEntry good = MakeEntry(1, 100, 199, 100);
  ResumeDocument doc = ParseResumeText(
      FormatResumeText(u"T", u"/d/", {bad, good}));
  EXPECT_TRUE(doc.complete);
  EXPECT_EQ(u"T", doc.guid);
  ASSERT_EQ(1u, doc.entries.size());
  EXPECT_EQ(good, doc.entries[0]);
}

TEST(ResumeFormatTest, FolderWithLineBreakIsNotRecorded) {
  ResumeEntry good = MakeEntry(0, 0, 99, 0);
  ResumeDocument doc = ParseResumeText(FormatResumeText(
      u"T", u"/tmp/x\n[FILE_0000]\nFILENAME=b/", {good}));
  EXPECT_TRUE(doc.complete);
  EXPECT_EQ(u"NULL", doc.folder);
  ASSERT_EQ(1u, doc.entries.size());
  EXPECT_EQ(good, doc.entries[0]);
}

TEST(ResumeFormatTest, LongValuesAreCutTo259Units) {
  ResumeEntry e = MakeEntry(0, 0, 99, 0);
  e.content = u"http://h/" + std::u16string(251, u'a');
  ASSERT_EQ(260u, e.content.size());
  ResumeEntry astral = MakeEntry(1, 0, 99, 0);
  // 258 units, then a pair that would be cut in half at 259.
  astral.content = std::u16string(258, u'b') + u"\U0001F600";
  ResumeDocument doc = ParseResumeText(FormatResumeText(u"T", u"/d/", {e, astral}));
  ASSERT_EQ(2u, doc.entries.size());
  EXPECT_EQ(e.content.substr(0, 259), doc.entries[0].content);
  EXPECT_EQ(std::u16string(258, u'b'), doc.entries[1].content);
}

TEST(ResumeFormatTest, StampHalves) {
  static const struct {
    uint64_t stamp;
    int32_t low, high;
  } kCases[] = {
      {0, 0, 0},
      {0x0000000080000000ull, INT32_MIN, 0},
      {0x01DC2B3CFFFFFFFFull, -1, 0x01DC2B3C},
      {0xFFFFFFFF7FFFFFFFull, INT32_MAX, -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stamp);
    EXPECT_EQ(c.low, StampLow(c.stamp));
    EXPECT_EQ(c.high, StampHigh(c.stamp));
    EXPECT_EQ(c.stamp, StampFromHalves(c.low, c.high));
  }
}

std::string Header(const std::string& count) {
  return "[REDAR_AVEDAVORUR_IVAZORAVUD]\r\nGUID=T\r\nFILEPARTIONCOUNT=" + count +
         "\r\nFILEPATH=/d/\r\n";
}

std::string Section(const std::string& name, const std::string& extra = "") {
  return "[" + name +
         "]\r\nPARTINDEX=0\r\nDOWNTYPE=0\r\nCONTENT=http://h/f\r\nFILENAME=f\r\n"
         "FILESIZE=10\r\nSTATES=4\r\nSTARTOFFSET=0\r\nENDOFFSET=9\r\n"
         "CURRENTOFFSET=5\r\n" +
         extra;
}

TEST(ResumeFormatTest, WholeOrDamaged) {
  static const struct {
    const char* name;
    std::string text;
    bool complete;
    size_t entries;
  } kCases[] = {
      {"one part", Header("1") + Section("FILE_0000"), true, 1},
      {"sections past the count are ignored",
       Header("1") + Section("FILE_0000") + Section("FILE_0001"), true, 1},
      {"case of names does not matter",
       "[redar_avedavorur_ivazoravud]\r\nguid=T\r\nFilePartionCount=1\r\n"
       "filepath=/d/\r\n" + Section("file_0000"), true, 1},
      {"a huge count with one section", Header("2147483647") + Section("FILE_0000"),
       false, 1},
      {"a missing middle section",
       Header("3") + Section("FILE_0000") + Section("FILE_0002"), false, 2},
      {"a section cut short",
       Header("1") + "[FILE_0000]\r\nPARTINDEX=0\r\nDOWNTYPE=0\r\n", false, 1},
      {"names that are not the writer's",
       Header("1") + Section("FILE_0") + Section("FILE_00000") + Section("FILE_+000"),
       false, 0},
      {"negative count", Header("-1"), false, 0},
      {"no header", Section("FILE_0000"), false, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ResumeDocument doc = ParseResumeText(c.text);
    EXPECT_EQ(c.complete, doc.complete);
    EXPECT_EQ(c.entries, doc.entries.size());
  }
}

TEST(ResumeFormatTest, NumbersReadLikeAtoiButMarkDamage) {
  static const struct {
    const char* current;
    int64_t value;
    bool wellFormed;
  } kCases[] = {
      {"5", 5, true},
      {"-0", 0, true},
      {"5abc", 5, false},
      {"", 0, false},
      {" 5", 5, false},
      {"99999999999999999999", INT64_MAX, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.current);
    std::string text = Header("1") + Section("FILE_0000");
    text.replace(text.find("CURRENTOFFSET=5"), 15,
                 std::string("CURRENTOFFSET=") + c.current);
    ResumeDocument doc = ParseResumeText(text);
    ASSERT_EQ(1u, doc.entries.size());
    EXPECT_EQ(c.value, doc.entries[0].currentOffset);
    EXPECT_EQ(c.wellFormed, doc.entries[0].wellFormed);
  }
  // A 16-bit field keeps the low 16 bits of what atoi reads, and says so.
  std::string text = Header("1") + Section("FILE_0000");
  text.replace(text.find("DOWNTYPE=0"), 10, "DOWNTYPE=65537");
  ResumeDocument doc = ParseResumeText(text);
  ASSERT_EQ(1u, doc.entries.size());
  EXPECT_EQ(1, doc.entries[0].downType);
  EXPECT_FALSE(doc.entries[0].wellFormed);
}

TEST(ResumeFormatTest, StampNeedsBothHalves) {
  static const struct {
    const char* extra;
    bool hasStamp;
  } kCases[] = {
      {"LOW_CRTIME=-5\r\nHIGH_CRTIME=7\r\n", true},
      {"LOW_CRTIME=-5\r\n", false},
      {"HIGH_CRTIME=7\r\n", false},
      {"", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.extra);
    ResumeDocument doc = ParseResumeText(Header("1") + Section("FILE_0000", c.extra));
    ASSERT_EQ(1u, doc.entries.size());
    EXPECT_EQ(c.hasStamp, doc.entries[0].hasStamp);
    if (c.hasStamp) {
      EXPECT_EQ(StampFromHalves(-5, 7), doc.entries[0].stamp);
    }
  }
}

TEST(ResumeFormatTest, Plausibility) {
  static const struct {
    const char* name;
    int64_t size, start, end, current;
    int16_t state;
    bool plausible;
  } kCases[] = {
      {"stopped midway", 1000, 0, 999, 400, PART_STOPPED, true},
      {"nothing yet", 1000, 500, 999, 500, PART_FAILED, true},
      {"complete", 1000, 500, 999, 1000, PART_COMPLETE, true},
      {"empty file", 0, 0, -1, 0, PART_COMPLETE, true},
      {"negative size", -1, 0, -2, 0, PART_STOPPED, false},
      {"negative start", 1000, -1, 999, 0, PART_STOPPED, false},
      {"start past end + 1", 1000, 600, 500, 600, PART_STOPPED, false},
      {"current before start", 1000, 500, 999, 499, PART_STOPPED, false},
      {"current past end + 1", 1000, 0, 999, 1001, PART_STOPPED, false},
      {"range past the file", 1000, 0, 1000, 0, PART_STOPPED, false},
      {"end at the 64-bit limit", INT64_MAX, 0, INT64_MAX, 0, PART_STOPPED, false},
      {"complete but not at the end", 1000, 0, 999, 999, PART_COMPLETE, false},
      {"unknown state", 1000, 0, 999, 0, 9, false},
      {"negative state", 1000, 0, 999, 0, -1, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ResumeEntry e = MakeEntry(0, c.start, c.end, c.current);
    e.fileSize = c.size;
    e.state = c.state;
    EXPECT_EQ(c.plausible, IsPlausible(e));
  }
  static const struct {
    const char16_t* fileName;
    int32_t partIndex;
    bool wellFormed;
    bool plausible;
  } kNames[] = {
      {u"a.pak", 0, true, true},
      {u"", 0, true, false},
      {u".", 0, true, false},
      {u"..", 0, true, false},
      {u"sub/a.pak", 0, true, false},
      {u"a.pak", -1, true, false},
      {u"a.pak", 0, false, false},
  };
  for (const auto& c : kNames) {
    SCOPED_TRACE(ToUtf8(c.fileName));
    ResumeEntry e = MakeEntry(c.partIndex, 0, 99, 0);
    e.fileName = c.fileName;
    e.wellFormed = c.wellFormed;
    EXPECT_EQ(c.plausible, IsPlausible(e));
  }
}

TEST(ResumeFormatTest, SavedState) {
  static const struct {
    int16_t state;
    int64_t current, end;
    int16_t saved;
  } kCases[] = {
      {PART_WAITING, 0, 99, PART_STOPPED},
      {PART_TRANSFERRING, 50, 99, PART_STOPPED},
      {PART_CONNECTING, 0, 99, PART_STOPPED},
      {PART_TRANSFERRING, 100, 99, PART_COMPLETE},
      {PART_TIMEOUT, 100, 99, PART_COMPLETE},
      {PART_TIMEOUT, 10, 99, PART_TIMEOUT},
      {PART_DISCONNECTED, 10, 99, PART_DISCONNECTED},
      {PART_FAILED, 10, 99, PART_FAILED},
      {PART_COMPLETE, 100, 99, PART_COMPLETE},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.state << " at " << c.current);
    EXPECT_EQ(c.saved, SavedState(c.state, c.current, c.end));
  }
}

}  // namespace
}  // namespace vespar
