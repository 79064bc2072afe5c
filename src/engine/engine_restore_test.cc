// Parts saved by an earlier run (as the resume file hands them over) are
// turned back into running parts: continued from their offsets, never
// restarted once complete, and dropped when they no longer fit the file.

#include <fstream>

#include "src/engine/engine_test_fixture.h"

namespace vespar::engine_testing {
namespace {

class RestoreTest : public EngineTest {
 protected:
  void Put(const std::string& relative, const std::string& content) {
    PosixFileSystem().MakeFolders(download_dir_);
    std::ofstream(LocalPath(relative), std::ios::binary) << content;
  }
  CPartRecord Saved(const std::string& path, int32_t index, int16_t state, int64_t size,
                    int64_t start, int64_t end, int64_t current) {
    CPartRecord p;
    p.partIndex = index;
    p.state = state;
    p.sourceUrl = FromUtf8(Url(path));
    p.fileName = FromUtf8(path.substr(path.rfind('/') + 1));
    p.fileSize = size;
    p.startOffset = start;
    p.endOffset = end;
    p.currentOffset = current;
    return p;
  }
  // The saved parts the resume file would hand over at start-up.
  void SaveParts(std::vector<CPartRecord> parts) {
    store_->onRead = [parts](CDownloadManager& m) {
      m.savedParts = parts;
      m.savedPartsCopy = parts;
    };
  }
};

TEST_F(RestoreTest, StoppedPartContinuesFromItsOffset) {
  const std::string content = TestBytes(50000, 21);
  server_->AddFile("/a.bin", content);
  Put("a.bin.tmp", content.substr(0, 20000));
  SaveParts({Saved("/a.bin", 0, PART_STOPPED, 50000, 0, 49999, 20000)});
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin"), (std::vector<std::string>{"bytes=20000-49999"}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  // The restored row shows the saved state and what was already on disk.
  auto restored = reinterpret_cast<PartRowRecord*>(Messages(DLGN_PART_STARTED)[0].lParam);
  EXPECT_EQ(restored->state, PART_STOPPED);
  EXPECT_EQ(restored->totalWritten, 20000);
  EXPECT_EQ(restored->current, 20000);
  EXPECT_EQ(manager_->totalWritten.load(), 50000);
}

TEST_F(RestoreTest, PartWithEveryByteOnDiskIsCompleteAndTheNextItemIsNotSkipped) {
  // Saved as stopped with currentOffset past the end, as a stop that landed
  // on the last block used to leave it.
  const std::string a = TestBytes(1000, 22), b = TestBytes(3000, 23);
  server_->AddFile("/a.bin", a);
  server_->AddFile("/b.bin", b);
  Put("a.bin.tmp", a);
  SaveParts({Saved("/a.bin", 0, PART_STOPPED, 1000, 0, 999, 1000)});
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin"), Url("/b.bin")}), 0);
  // Passed over while probing.
  std::vector<Message> complete = Messages(DLGN_ITEM_COMPLETE);
  ASSERT_EQ(complete.size(), 1u);
  EXPECT_EQ(*reinterpret_cast<std::u16string*>(complete[0].lParam), u"a.bin");
  size_t from = sink_->size();
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, from), 0);
  EXPECT_TRUE(GetRanges("/a.bin").empty());  // never "bytes=1000-999"
  EXPECT_EQ(GetRanges("/b.bin"), (std::vector<std::string>{"bytes=0-2999"}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), a);
  EXPECT_EQ(ReadFile(LocalPath("b.bin")), b);
  EXPECT_EQ(sink_->Count(DLGN_STARTED), 1u);
}

TEST_F(RestoreTest, OnlyItemCompleteInAnEarlierRunGetsItsName) {
  const std::string a = TestBytes(1000, 24);
  server_->AddFile("/a.bin", a);
  Put("a.bin.tmp", a);
  SaveParts({Saved("/a.bin", 0, PART_COMPLETE, 1000, 0, 999, 1000)});
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), a);
  EXPECT_FALSE(Exists("a.bin.tmp"));
  EXPECT_TRUE(GetRanges("/a.bin").empty());
  manager_->Quit();
  EXPECT_TRUE(manager_->allDone);
}

TEST_F(RestoreTest, SavedPartsThatDoNotFitTheFileAreDroppedAndItIsFetchedAnew) {
  // The server's file is shorter than the saved one: the old bytes must not
  // be spliced on, and the part file must not keep its longer tail.
  const std::string content = TestBytes(50000, 25);
  server_->AddFile("/a.bin", content);
  Put("a.bin.tmp", TestBytes(60000, 99));
  SaveParts({Saved("/a.bin", 0, PART_STOPPED, 60000, 0, 59999, 30000)});
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin"), (std::vector<std::string>{"bytes=0-49999"}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
}

TEST_F(RestoreTest, CompleteRestoredPartsLeaveTheRemainingRangesToStart) {
  // Four ranges of 10000, two at once; the first two started (highest
  // first) completed in the earlier run.
  const std::string content = TestBytes(40000, 26);
  server_->AddFile("/a.bin", content);
  Put("a.bin.tmp", content.substr(0, 20000));
  SaveParts({Saved("/a.bin", 0, PART_COMPLETE, 40000, 10000, 19999, 20000),
             Saved("/a.bin", 1, PART_COMPLETE, 40000, 0, 9999, 10000)});
  manager_->SetPartsAtOnceOverride(2);
  manager_->SetMaxPartSize(10000);
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  std::vector<std::string> ranges = GetRanges("/a.bin");
  std::sort(ranges.begin(), ranges.end());
  EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=20000-29999", "bytes=30000-39999"}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
}

TEST_F(RestoreTest, PartsOfOneFileAreRestoredAllOrNothing) {
  // A gap in the saved part numbers: the file is fetched anew.
  const std::string content = TestBytes(40000, 27);
  server_->AddFile("/a.bin", content);
  Put("a.bin.tmp", TestBytes(40000, 98));
  SaveParts({Saved("/a.bin", 0, PART_STOPPED, 40000, 10000, 19999, 15000),
             Saved("/a.bin", 2, PART_STOPPED, 40000, 0, 9999, 5000)});
  manager_->SetPartsAtOnceOverride(2);
  manager_->SetMaxPartSize(10000);
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin").size(), 4u);
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
}

}  // namespace
}  // namespace vespar::engine_testing
