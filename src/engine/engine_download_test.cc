// Downloads that go right: the manager thread, range workers and completion
// against the in-process test server.

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

#include "src/engine/download_list_poster.h"
#include "src/engine/engine_test_fixture.h"
#include "src/platform/file_system.h"
#include "src/platform/thread_start.h"

namespace vespar::engine_testing {
namespace {

using DownloadTest = EngineTest;

std::mutex g_started_mutex;
std::vector<std::thread::id> g_started_threads;  // one entry per hook call

bool RecordThreadStart() {
  std::lock_guard<std::mutex> lock(g_started_mutex);
  g_started_threads.push_back(std::this_thread::get_id());
  return true;
}

// Every thread the engine starts runs the thread-start hook first (the crash
// report gives each its own alternate signal stack there).
TEST_F(DownloadTest, EveryEngineThreadRunsTheStartHook) {
  server_->AddFile("/files/a.bin", TestBytes(5000, 1));
  server_->AddFile("/files/b.bin", TestBytes(7000, 2));
  {
    std::lock_guard<std::mutex> lock(g_started_mutex);
    g_started_threads.clear();
  }
  SetThreadStartHook(&RecordThreadStart);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/files/a.bin"), Url("/files/b.bin")}), 0);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE), 0);
  manager_->Quit();
  SetThreadStartHook(nullptr);
  std::lock_guard<std::mutex> lock(g_started_mutex);
  // The manager thread and one range worker per file, each on its own
  // thread (a finished worker's id may be reused, so calls are counted).
  EXPECT_EQ(g_started_threads.size(), 3u);
  EXPECT_EQ(std::count(g_started_threads.begin(), g_started_threads.end(),
                       std::this_thread::get_id()),
            0);
}

TEST_F(DownloadTest, OneFileOnePartFollowsTheProtocol) {
  const std::string content = TestBytes(100000);
  server_->AddFile("/files/a.bin", content);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/files/a.bin")}), 0);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE), 0);

  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  EXPECT_FALSE(Exists("a.bin.tmp"));

  // The notifications of a fresh one-part download, in order (progress
  // messages left out).
  std::vector<uint32_t> seen;
  for (const Message& m : sink_->Snapshot()) {
    if (m.message != DLGN_PROGRESS) seen.push_back(m.message);
  }
  EXPECT_EQ(seen, (std::vector<uint32_t>{DLGN_ITEM_ADDED, DLGN_ITEM_BEGIN, DLGN_ITEM_PROBED,
                                         DLGN_ITEM_BEGIN, DLGN_PART_STARTED, DLGN_STARTED,
                                         DLGN_PART_COMPLETE, DLGN_ITEM_COMPLETE,
                                         DLGN_ALL_COMPLETE}));
  auto added = reinterpret_cast<ItemInfoRecord*>(Messages(DLGN_ITEM_ADDED)[0].lParam);
  EXPECT_EQ(added->size, 100000);
  EXPECT_EQ(added->total, 100000);
  EXPECT_EQ(added->fileName.view(), u"a.bin");
  auto row = reinterpret_cast<PartRowRecord*>(Messages(DLGN_PART_STARTED)[0].lParam);
  EXPECT_EQ(row->start, 0);
  EXPECT_EQ(row->end, 99999);
  EXPECT_EQ(row->state, -1);
  EXPECT_EQ(row->source.view(), FromUtf8(Url("/files/a.bin")));
  // Progress carries the address of the running total.
  const Message last = Messages(DLGN_PROGRESS).back();
  EXPECT_EQ(reinterpret_cast<std::atomic<int64_t>*>(last.wParam)->load(), 100000);
  EXPECT_EQ(manager_->totalWritten.load(), 100000);

  // One HEAD, then one GET written exactly as the servers expect it.
  auto requests = server_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw_head, "HEAD " + Url("/files/a.bin") + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(requests[1].raw_head, "GET " + Url("/files/a.bin") +
                                      " HTTP/1.0\r\nUser-Agent:\r\nRange: bytes=0-99999\r\n\r\n");

  // After completion the quit removes the saved state (allDone).
  manager_->Quit();
  EXPECT_TRUE(manager_->allDone);
  EXPECT_EQ(store_->writes(), 1);
}

TEST_F(DownloadTest, SeveralFilesInTheirFolders) {
  FolderLayoutFlag = u"r";
  ContentBaseUrl = FromUtf8(Url("/"));
  const std::string a = TestBytes(70000, 1), b = TestBytes(1, 2), c = TestBytes(33333, 3);
  server_->AddFile("/full/client/a.dat", a);
  server_->AddFile("/full/patch/patch", b);  // a folder sharing its file's name
  server_->AddFile("/top.txt", c);
  StartManager();
  ASSERT_TRUE(Download({Url("//full/client/a.dat"), Url("/full/patch/patch"), Url("/top.txt")}));

  EXPECT_EQ(ReadFile(LocalPath("full/client/a.dat")), a);
  EXPECT_EQ(ReadFile(LocalPath("full/patch/patch")), b);
  EXPECT_EQ(ReadFile(LocalPath("top.txt")), c);
  EXPECT_FALSE(Exists("full/client/a.dat.tmp"));
  std::vector<std::u16string> completed;
  for (const Message& m : Messages(DLGN_ITEM_COMPLETE))
    completed.push_back(*reinterpret_cast<std::u16string*>(m.lParam));
  EXPECT_EQ(completed, (std::vector<std::u16string>{u"a.dat", u"patch", u"top.txt"}));
  EXPECT_EQ(manager_->totalSize.load(), 70000 + 1 + 33333);
  EXPECT_EQ(manager_->totalWritten.load(), 70000 + 1 + 33333);
  // A finished part's thread is gone once its end is handled, not kept (with
  // its stack) until the manager ends: a long list costs no memory per file.
  ASSERT_EQ(manager_->workers.size(), 3u);
  for (const auto& part : manager_->workers) EXPECT_FALSE(part->workerThread.joinable());
}

// The disk write of a large file overlaps its transfer: the written bytes
// are handed to write-back in chunks while the parts run and the rest when
// each part ends, so the flush before a checkpoint finds little to do.
TEST_F(DownloadTest, WrittenBytesAreSentToDiskOnceWhileTheTransferRuns) {
  class WriteBackLog : public PosixFileSystem {
   public:
    int StartWriteBack(int fd, int64_t offset, int64_t length) override {
      std::lock_guard<std::mutex> lock(mutex);
      ranges.emplace_back(offset, length);
      return PosixFileSystem::StartWriteBack(fd, offset, length);
    }
    std::mutex mutex;
    std::vector<std::pair<int64_t, int64_t>> ranges;
  };
  WriteBackLog fs;
  SetFileSystem(&fs);
  struct Restore {
    ~Restore() { SetFileSystem(nullptr); }
  } restore;
  constexpr int64_t kMiB = 1 << 20;
  const int64_t size = 25 * kMiB + 5;  // parts [0, 10 MiB) and [10 MiB, size)
  const std::string content = TestBytes(size, 9);
  server_->AddFile("/big.bin", content);
  manager_->SetPartsAtOnceOverride(2);
  manager_->SetMaxPartSize(10 * kMiB);
  StartManager();
  ASSERT_TRUE(Download({Url("/big.bin")}));
  EXPECT_TRUE(ReadFile(LocalPath("big.bin")) == content);

  std::lock_guard<std::mutex> lock(fs.mutex);
  std::vector<std::pair<int64_t, int64_t>> ranges = fs.ranges;
  std::sort(ranges.begin(), ranges.end());
  EXPECT_EQ(ranges, (std::vector<std::pair<int64_t, int64_t>>{{0, 8 * kMiB},
                                                               {8 * kMiB, 2 * kMiB},
                                                               {10 * kMiB, 6 * kMiB},
                                                               {16 * kMiB, 8 * kMiB},
                                                               {24 * kMiB, kMiB + 5}}));
}

TEST_F(DownloadTest, LargeFileInMorePartsThanRunAtOnce) {
  // 45000 bytes with parts of at most 10000 and three at once: four parts,
  // the last one with the remainder, started when one of the first completes.
  const std::string content = TestBytes(45000, 7);
  server_->AddFile("/big.bin", content);
  server_->SetRateLimit(200000);  // keep the first parts running for a while
  manager_->SetPartsAtOnceOverride(3);
  manager_->SetMaxPartSize(10000);
  StartManager();
  EXPECT_EQ(manager_->PartsAtOnce(), 3);
  ASSERT_TRUE(Download({Url("/big.bin")}));
  EXPECT_EQ(ReadFile(LocalPath("big.bin")), content);

  // Highest range first (part numbers follow the order of starting); the
  // fourth range starts after the first three.
  std::vector<Message> rows = Messages(DLGN_PART_STARTED);
  ASSERT_EQ(rows.size(), 4u);
  const int64_t kStarts[] = {20000, 10000, 0, 30000};
  const int64_t kEnds[] = {29999, 19999, 9999, 44999};
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    auto row = reinterpret_cast<PartRowRecord*>(rows[i].lParam);
    EXPECT_EQ(row->start, kStarts[i]);
    EXPECT_EQ(row->end, kEnds[i]);
    EXPECT_EQ(row->part->partIndex, static_cast<int32_t>(i));
  }
  std::vector<std::string> ranges = GetRanges("/big.bin");
  ASSERT_EQ(ranges.size(), 4u);
  EXPECT_EQ(std::set<std::string>(ranges.begin(), ranges.end()),
            (std::set<std::string>{"bytes=20000-29999", "bytes=10000-19999", "bytes=0-9999",
                                   "bytes=30000-44999"}));
  // The fourth part started only after a part had completed.
  auto snapshot = sink_->Snapshot();
  size_t firstComplete = 0, fourthStart = 0, startsSeen = 0;
  for (size_t i = 0; i < snapshot.size(); ++i) {
    if (snapshot[i].message == DLGN_PART_COMPLETE && firstComplete == 0) firstComplete = i;
    if (snapshot[i].message == DLGN_PART_STARTED && ++startsSeen == 4) fourthStart = i;
  }
  EXPECT_GT(fourthStart, firstComplete);
}

TEST_F(DownloadTest, TableBytesGiveOnePartPerFile) {
  // The shipped layout table keeps one part per file, however large.
  const std::string content = TestBytes(30000, 9);
  server_->AddFile("/one.bin", content);
  manager_->SetMaxPartSize(1000);
  StartManager();
  EXPECT_EQ(manager_->PartsAtOnce(), 1);
  EXPECT_EQ(manager_->ExtraParts(), 0);
  ASSERT_TRUE(Download({Url("/one.bin")}));
  EXPECT_EQ(GetRanges("/one.bin"), (std::vector<std::string>{"bytes=0-29999"}));
  EXPECT_EQ(ReadFile(LocalPath("one.bin")), content);
}

TEST_F(DownloadTest, PartsAtOnceOutsideItsRangeIsKeptToIt) {
  // With more than five nothing would ever be planned.
  server_->AddFile("/a.bin", TestBytes(9000, 3));
  manager_->SetPartsAtOnceOverride(9);
  manager_->SetMaxPartSize(1000);
  StartManager();
  EXPECT_EQ(manager_->PartsAtOnce(), 5);
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin").size(), 9u);
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), TestBytes(9000, 3));
}

TEST_F(DownloadTest, ExplicitZeroLengthIsAnEmptyFileFetchedWithoutARequest) {
  server_->AddFile("/empty.txt", "");
  server_->AddFile("/after.bin", TestBytes(500));
  StartManager();
  ASSERT_TRUE(Download({Url("/empty.txt"), Url("/after.bin")}));
  EXPECT_TRUE(Exists("empty.txt"));
  EXPECT_EQ(ReadFile(LocalPath("empty.txt")), "");
  EXPECT_TRUE(GetRanges("/empty.txt").empty());  // never "bytes=0--1"
  EXPECT_EQ(ReadFile(LocalPath("after.bin")), TestBytes(500));
}

TEST_F(DownloadTest, DuplicateUrlIsReportedWithItsUrlAndStopsProbing) {
  server_->AddFile("/a.bin", "x");
  server_->AddFile("/b.bin", "y");
  StartManager();
  AddItem(Url("/a.bin"));
  AddItem(Url("/a.bin"));
  AddItem(Url("/b.bin"));
  int dup = Wait(DLGN_ITEM_DUPLICATE);
  ASSERT_GE(dup, 0);
  EXPECT_EQ(*reinterpret_cast<std::u16string*>(sink_->at(dup).lParam), FromUtf8(Url("/a.bin")));
  // The entry after the duplicate is passed over unprobed.
  int probed = Wait(DLGN_ITEM_PROBED, dup);
  ASSERT_GE(probed, 0);
  EXPECT_EQ(sink_->at(probed).lParam, 1);
  EXPECT_EQ(sink_->Count(DLGN_ITEM_PROBED), 2u);  // none for the duplicate itself
  EXPECT_EQ(server_->RequestCount("/b.bin"), 0u);
}

TEST_F(DownloadTest, LongTextsAreCutInRecordsButKeptWholeByTheEngine) {
  // A 250-byte name (the file system's limit is 255) in a URL of more than
  // 259 units.
  std::string name(246, 'n');
  name += ".bin";
  server_->AddFile("/" + name, "data");
  StartManager();
  ASSERT_TRUE(Download({Url("/" + name)}));
  auto added = reinterpret_cast<ItemInfoRecord*>(Messages(DLGN_ITEM_ADDED)[0].lParam);
  EXPECT_EQ(added->fileName.view(), FromUtf8(name));
  auto plan = reinterpret_cast<ItemPlanRecord*>(Messages(DLGN_ITEM_BEGIN)[0].lParam);
  EXPECT_EQ(plan->url.view(), FromUtf8(Url("/" + name)).substr(0, 259));
  auto row = reinterpret_cast<PartRowRecord*>(Messages(DLGN_PART_STARTED)[0].lParam);
  EXPECT_EQ(row->source.view().size(), 259u);
  EXPECT_EQ(row->part->sourceUrl, FromUtf8(Url("/" + name)));
  EXPECT_EQ(ReadFile(LocalPath(name)), "data");
}

TEST_F(DownloadTest, StartWithoutItemsReportsCode11) {
  StartManager();
  Post(MGRM_START);
  int error = Wait(DLGN_ERROR);
  ASSERT_GE(error, 0);
  EXPECT_EQ(sink_->at(error).lParam, kErrorNoItems);
}

TEST_F(DownloadTest, PostDownloadListHandsEveryEntryToTheManager) {
  server_->AddFile("/d/x.bin", "x");
  server_->AddFile("/d/y.bin", "yy");
  ContentBaseUrl = FromUtf8(Url("/"));
  DownloadBases = {ContentBaseUrl, ContentBaseUrl};
  DownloadFolders = {u"d/", u"d/"};
  DownloadNames = {u"x.bin", u"y.bin"};
  StartManager();
  const ThreadId manager = manager_->threadId();
  EXPECT_EQ(PostDownloadList(manager), 0);
  ASSERT_GE(Wait(DLGN_ITEM_PROBED), 0);
  int second = Wait(DLGN_ITEM_PROBED, Wait(DLGN_ITEM_PROBED) + 1);
  ASSERT_GE(second, 0);
  EXPECT_EQ(manager_->totalSize.load(), 3);
  manager_->Quit();
  // Posting to a manager that has ended fails for every entry.
  EXPECT_EQ(PostDownloadList(manager), 2);
  DownloadBases.clear();
  DownloadFolders.clear();
  DownloadNames.clear();
}

}  // namespace
}  // namespace vespar::engine_testing
