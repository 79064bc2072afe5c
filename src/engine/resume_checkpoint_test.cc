// What a checkpoint records: the live records of this run as they would
// stand after a stop, and the saved parts no record of this run replaced.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "src/engine/part_record.h"
#include "src/engine/resume_file.h"
#include "src/engine/resume_format.h"

namespace vespar {
namespace {

std::unique_ptr<CPartRecord> Record(const std::u16string& url, int32_t index,
                                    int16_t state, int64_t start, int64_t end,
                                    int64_t current) {
  auto r = std::make_unique<CPartRecord>();
  r->sourceUrl = url;
  r->connectUrl = u"http://10.0.0.7/rotated";  // never saved
  r->fileName = url.substr(url.rfind(u'/') + 1);
  r->fileSize = 3000;
  r->partIndex = index;
  r->state = state;
  r->startOffset = start;
  r->endOffset = end;
  r->currentOffset = current;
  r->position = current + 100;  // a block in flight is not on disk
  return r;
}

ResumeEntry Saved(const std::u16string& url, int32_t index, uint64_t stamp) {
  ResumeEntry e;
  e.content = url;
  e.fileName = url.substr(url.rfind(u'/') + 1);
  e.fileSize = 3000;
  e.partIndex = index;
  e.state = PART_STOPPED;
  e.startOffset = 0;
  e.endOffset = 2999;
  e.currentOffset = 1200;
  e.hasStamp = true;
  e.stamp = stamp;
  return e;
}

TEST(ResumeCheckpointTest, RecordsStandAsAfterAStop) {
  const std::u16string a = u"http://h/c/a.pak";
  std::vector<std::unique_ptr<CPartRecord>> run;
  run.push_back(Record(a, 0, PART_TRANSFERRING, 2000, 2999, 2400));
  run.push_back(Record(a, 1, PART_TRANSFERRING, 1000, 1999, 2000));  // finished
  run.push_back(Record(a, 2, PART_WAITING, 0, 999, 0));
  run.push_back(Record(a, 3, PART_CONNECTING, 0, 999, 0));
  run.push_back(Record(a, 4, PART_DISCONNECTED, 0, 999, 300));
  std::vector<const CPartRecord*> pointers;
  for (const auto& r : run) pointers.push_back(r.get());

  std::vector<ResumeEntry> entries = CheckpointEntries(pointers, {});
  static const struct {
    int16_t state;
    int64_t current;
  } kExpected[] = {{PART_STOPPED, 2400},
                   {PART_COMPLETE, 2000},
                   {PART_STOPPED, 0},
                   {PART_STOPPED, 0},
                   {PART_DISCONNECTED, 300}};
  ASSERT_EQ(std::size(kExpected), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kExpected[i].state, entries[i].state);
    EXPECT_EQ(kExpected[i].current, entries[i].currentOffset);  // not position
    EXPECT_EQ(a, entries[i].content);                           // not connectUrl
    EXPECT_EQ(static_cast<int32_t>(i), entries[i].partIndex);
    EXPECT_FALSE(entries[i].hasStamp);
  }
}

TEST(ResumeCheckpointTest, KeepsSavedPartsNotReplaced) {
  const std::u16string a = u"http://h/c/a.pak";
  const std::u16string b = u"http://h/c/b.pak";
  const std::u16string c = u"http://h/c/c.pak";
  auto running = Record(b, 0, PART_TRANSFERRING, 0, 2999, 10);
  // b was saved too, but this run planned it afresh: its old parts go.
  std::vector<ResumeEntry> saved = {Saved(a, 0, 11), Saved(b, 0, 12), Saved(c, 0, 13)};
  std::vector<ResumeEntry> entries = CheckpointEntries({running.get()}, saved);
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(b, entries[0].content);
  EXPECT_EQ(10, entries[0].currentOffset);
  EXPECT_EQ(saved[0], entries[1]);  // stamps kept as they were validated
  EXPECT_EQ(saved[2], entries[2]);

  // Nothing running yet (the user quit while probing): every saved part stays.
  EXPECT_EQ(saved, CheckpointEntries({}, saved));
}

TEST(ResumeCheckpointTest, FillRecordRestoresTheSavedFields) {
  ResumeEntry e = Saved(u"http://h/c/a.pak", 2, 99);
  e.downType = 1;
  e.state = PART_TIMEOUT;
  CPartRecord r;
  r.localPath = u"/dl/a.pak";
  FillRecord(e, &r);
  EXPECT_EQ(u"/dl/a.pak", r.localPath);  // not a saved field
  EXPECT_EQ(1200, r.position.load());
  ResumeEntry back = EntryFromRecord(r);
  back.hasStamp = e.hasStamp;
  back.stamp = e.stamp;
  EXPECT_EQ(e, back);
}

}  // namespace
}  // namespace vespar
