// The real resume file under the real manager and range workers: what the
// checkpoints hold while a download runs, what survives a run that never
// reached the saved parts, the all-or-nothing restore of a file, and a
// reader that waits for the download list.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "src/engine/engine_test_fixture.h"
#include "src/engine/resume_stamp.h"
#include "src/engine/resume_store.h"

namespace vespar::engine_testing {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

class ResumeEngineTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    location_ = ResumeLocationFor(dir_ + "/documents/", ApplicationTitle);
    MakeFileStore();
  }
  void TearDown() override {
    manager_.reset();  // the last write happens while the thread ends
    file_store_.reset();
    DownloadNames.clear();
    EngineTest::TearDown();
  }

  // With `interval`, the store runs on the real clock with that interval;
  // otherwise on the test's clock, which stands still until moved.
  void MakeFileStore(std::optional<std::chrono::milliseconds> interval = std::nullopt) {
    FileResumeStore::Options options;
    options.location = location_;
    options.listFinished = &list_final_;
    if (interval) {
      options.interval = *interval;
    } else {
      options.now = [this] { return SteadyTime(std::chrono::milliseconds(clock_ms_.load())); };
    }
    options.onWritten = [this](const ResumeWriteStatus& status) {
      std::string text = ReadFile(location_.file);
      std::lock_guard<std::mutex> lock(writes_mutex_);
      EXPECT_TRUE(status.ok()) << status.what;
      writes_.push_back(text);
      writes_cv_.notify_all();
    };
    file_store_ = std::make_unique<FileResumeStore>(std::move(options));
  }

  void StartRun() {
    manager_->SetWindow(sink_.get());
    manager_->SetResumeStore(file_store_.get());
    manager_->SetTimings(timings_);
    manager_->downloadFolder = FromUtf8(download_dir_ + "/");
    ASSERT_TRUE(manager_->Start(nullptr, true));
  }
  // The program ends and is started again: a new manager, window and store.
  void NewRun() {
    manager_.reset();
    sink_ = std::make_unique<RecordingWindowSink>();
    manager_ = std::make_unique<CDownloadManager>();
    MakeFileStore();
    std::lock_guard<std::mutex> lock(writes_mutex_);
    writes_.clear();
  }

  size_t Writes() {
    std::lock_guard<std::mutex> lock(writes_mutex_);
    return writes_.size();
  }
  // The file as write number `n` (from 1) left it; empty after a time-out.
  std::optional<ResumeDocument> WaitForWrite(
      size_t n, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(writes_mutex_);
    if (!writes_cv_.wait_for(lock, limit,
                             [&] { return writes_.size() >= n; }))
      return std::nullopt;
    return ParseResumeText(writes_[n - 1]);
  }

  // Leaves what an earlier run would have: part files with their stamps and
  // the resume file naming them.
  void EarlierRun(const std::vector<std::pair<std::string, std::string>>& partFiles,
                  const std::vector<ResumeEntry>& entries) {
    PosixFileSystem().MakeFolders(download_dir_);
    for (const auto& [name, bytes] : partFiles) {
      std::string path = LocalPath(name + ".tmp");
      int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fd, bytes.data(), bytes.size()));
      ASSERT_NE(0u, EnsureCreationStamp(fd));
      ::close(fd);
    }
    ASSERT_TRUE(WriteResumeFile(location_, ApplicationTitle, FromUtf8(download_dir_ + "/"),
                                entries, ResumePartFilePath)
                    .ok());
  }
  ResumeEntry Saved(const std::string& path, int32_t index, int64_t size, int64_t start,
                    int64_t end, int64_t current, int16_t state = PART_STOPPED) const {
    ResumeEntry e;
    e.partIndex = index;
    e.content = FromUtf8(Url(path));
    e.fileName = FromUtf8(path.substr(path.rfind('/') + 1));
    e.fileSize = size;
    e.state = state;
    e.startOffset = start;
    e.endOffset = end;
    e.currentOffset = current;
    return e;
  }
  static const ResumeEntry* Find(const ResumeDocument& doc, std::u16string_view name) {
    for (const ResumeEntry& e : doc.entries) {
      if (e.fileName == name) return &e;
    }
    return nullptr;
  }
  int64_t FileSizeOf(const std::string& relative) const {
    struct stat st;
    return ::stat(LocalPath(relative).c_str(), &st) == 0 ? st.st_size : -1;
  }

  ResumeLocation location_;
  ManualResetEvent list_final_{true};
  std::atomic<int64_t> clock_ms_{1000000};
  std::unique_ptr<FileResumeStore> file_store_;
  std::mutex writes_mutex_;
  std::condition_variable writes_cv_;
  std::vector<std::string> writes_;  // GUARDED_BY(writes_mutex_)
};

TEST_F(ResumeEngineTest, CheckpointsWhenAPartEndsAndAfterFiveSecondsOfProgress) {
  const std::string a = TestBytes(4000, 31), b = TestBytes(400000, 32);
  server_->AddFile("/a.bin", a);
  server_->AddFile("/b.bin", b);
  server_->SetRateLimit(100000);  // b.bin takes four seconds
  DownloadNames = {u"a.bin", u"b.bin"};
  StartRun();
  ASSERT_EQ(ProbeAll({Url("/a.bin"), Url("/b.bin")}), 0);
  Post(MGRM_START);

  // a.bin's part ended: saved as complete at once. The clock stands still,
  // so no progress checkpoint follows while b.bin runs.
  int complete = Wait(DLGN_ITEM_COMPLETE);
  ASSERT_GE(complete, 0);
  const size_t afterPartEnd = Writes();
  std::optional<ResumeDocument> doc = WaitForWrite(afterPartEnd);
  ASSERT_TRUE(doc);
  const ResumeEntry* saved = Find(*doc, u"a.bin");
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(saved->state, PART_COMPLETE);
  EXPECT_EQ(saved->currentOffset, 4000);
  EXPECT_TRUE(saved->hasStamp);

  int progress = complete;
  for (int i = 0; i < 5; ++i) {
    progress = Wait(DLGN_PROGRESS, progress + 1);
    ASSERT_GE(progress, 0);
  }
  clock_ms_ += 4999;
  progress = Wait(DLGN_PROGRESS, progress + 1);
  ASSERT_GE(progress, 0);
  EXPECT_EQ(Writes(), afterPartEnd);

  // Five seconds after the last save, the next block brings a checkpoint.
  clock_ms_ += 1;
  doc = WaitForWrite(afterPartEnd + 1);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->entries.size(), 2u);
  saved = Find(*doc, u"b.bin");
  ASSERT_NE(saved, nullptr);
  EXPECT_EQ(saved->state, PART_STOPPED);  // as it would stand after a stop
  EXPECT_GT(saved->currentOffset, 0);
  EXPECT_LT(saved->currentOffset, 400000);
  EXPECT_TRUE(saved->hasStamp);
  // Everything up to the recorded offset is in the part file.
  std::string onDisk = ReadFile(LocalPath("b.bin.tmp"));
  ASSERT_GE(onDisk.size(), static_cast<size_t>(saved->currentOffset));
  EXPECT_TRUE(onDisk.compare(0, saved->currentOffset, b, 0, saved->currentOffset) == 0);

  // Closed in the middle: the next run asks for the rest of b.bin only.
  manager_->Quit();
  doc = WaitForWrite(Writes());
  ASSERT_TRUE(doc);
  saved = Find(*doc, u"b.bin");
  ASSERT_NE(saved, nullptr);
  const int64_t resumeAt = saved->currentOffset;
  server_->SetRateLimit(0);
  server_->ClearLog();
  NewRun();
  StartRun();
  ASSERT_TRUE(Download({Url("/a.bin"), Url("/b.bin")}));
  EXPECT_TRUE(GetRanges("/a.bin").empty());
  EXPECT_EQ(GetRanges("/b.bin"),
            (std::vector<std::string>{"bytes=" + std::to_string(resumeAt) + "-399999"}));
  EXPECT_TRUE(ReadFile(LocalPath("a.bin")) == a);
  EXPECT_TRUE(ReadFile(LocalPath("b.bin")) == b);
  manager_->Quit();
  EXPECT_FALSE(PosixFileSystem().Exists(location_.file));  // everything is complete
}

// Changes put off within the interval reach the file when it has passed,
// though no further block or message comes to wake the manager.
TEST_F(ResumeEngineTest, PutOffCheckpointIsWrittenWhileTheTransferStalls) {
  MakeFileStore(std::chrono::milliseconds(300));
  timings_.receiveMs = 60000;  // the stall outlasts the test
  const std::string a = TestBytes(4000, 41), b = TestBytes(100000, 42);
  server_->AddFile("/a.bin", a);
  server_->AddFile("/b.bin", b);
  testing::Fault stall;
  stall.method = testing::FaultMethod::kGet;
  stall.cut_after = 50000;
  stall.ending = testing::Ending::kStall;
  server_->SetFault("/b.bin", stall);
  DownloadNames = {u"a.bin", u"b.bin"};
  StartRun();
  ASSERT_EQ(ProbeAll({Url("/a.bin"), Url("/b.bin")}), 0);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ITEM_COMPLETE), 0);

  // a.bin's first block was saved at once; its end and b.bin's 50000 bytes
  // come later, within the interval, and then b.bin's server goes silent.
  bool seen = false;
  for (size_t n = 1; !seen; ++n) {
    std::optional<ResumeDocument> doc = WaitForWrite(n, std::chrono::seconds(5));
    ASSERT_TRUE(doc) << "no checkpoint holds the stalled state";
    const ResumeEntry* first = Find(*doc, u"a.bin");
    const ResumeEntry* second = Find(*doc, u"b.bin");
    seen = first && first->state == PART_COMPLETE && second &&
           second->currentOffset == 50000;
  }
  EXPECT_TRUE(ReadFile(LocalPath("b.bin.tmp")).compare(0, 50000, b, 0, 50000) == 0);
  manager_->Quit();
}

TEST_F(ResumeEngineTest, SavedPartsSurviveARunThatNeverReachedThem) {
  const std::string a = TestBytes(30000, 33);
  server_->AddFile("/a.bin", a);
  EarlierRun({{"a.bin", a.substr(0, 12000)}}, {Saved("/a.bin", 0, 30000, 0, 29999, 12000)});
  const std::string before = ReadFile(location_.file);
  DownloadNames = {u"x.bin", u"a.bin"};

  // The first probe fails, so a.bin is never probed; the user closes.
  StartRun();
  ASSERT_EQ(ProbeAll({Url("/x.bin"), Url("/a.bin")}), 1);
  manager_->Quit();
  std::optional<ResumeDocument> doc = WaitForWrite(1);
  ASSERT_TRUE(doc);
  EXPECT_EQ(ReadFile(location_.file), before);

  // The next run continues a.bin where the earlier one stopped.
  server_->ClearLog();
  NewRun();
  StartRun();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin"), (std::vector<std::string>{"bytes=12000-29999"}));
  EXPECT_TRUE(ReadFile(LocalPath("a.bin")) == a);
}

TEST_F(ResumeEngineTest, ReaderWaitsForTheDownloadList) {
  const std::string late = TestBytes(20000, 34);
  server_->AddFile("/late.bin", late);
  EarlierRun({{"late.bin", late.substr(0, 8000)}},
             {Saved("/late.bin", 0, 20000, 0, 19999, 8000)});
  list_final_.Reset();
  DownloadNames.clear();
  StartRun();  // ready at once; the reader now waits for the list

  // Start-up's last step appends the contents script's entry, then marks the
  // list final. The item posted meanwhile waits behind the reader.
  AddItem(Url("/late.bin"));
  DownloadNames.push_back(u"late.bin");
  list_final_.Set();
  ASSERT_GE(Wait(DLGN_ITEM_PROBED), 0);
  size_t from = sink_->size();
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, from), 0);
  EXPECT_EQ(GetRanges("/late.bin"), (std::vector<std::string>{"bytes=8000-19999"}));
  EXPECT_TRUE(ReadFile(LocalPath("late.bin")) == late);
}

TEST_F(ResumeEngineTest, PartFileGetsAStampWhereTheFileSystemKeepsNoBirthTime) {
  // The real file system, except that it reports no birth times.
  class NoBirthTime : public PosixFileSystem {
   public:
    int BirthTime(int, int64_t* stamp) override {
      *stamp = 0;
      return 0;
    }
  };
  static NoBirthTime fs;  // outlives the manager's last write in TearDown
  PosixFileSystem().MakeFolders(download_dir_);
  {
    std::string probe = LocalPath("xattr-probe");
    int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    bool xattrs = ::fsetxattr(fd, "user.vespar.probe", "1", 1, 0) == 0;
    ::close(fd);
    ::unlink(probe.c_str());
    if (!xattrs) GTEST_SKIP() << "no user extended attributes here";
  }
  SetFileSystem(&fs);
  const std::string a = TestBytes(400000, 35);
  server_->AddFile("/a.bin", a);
  server_->SetRateLimit(100000);
  DownloadNames = {u"a.bin"};
  StartRun();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_PROGRESS), 0);
  manager_->Quit();
  std::optional<ResumeDocument> doc = WaitForWrite(Writes());
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->entries.size(), 1u);
  EXPECT_TRUE(doc->entries[0].hasStamp);
  const int64_t resumeAt = doc->entries[0].currentOffset;
  EXPECT_GT(resumeAt, 0);

  server_->SetRateLimit(0);
  server_->ClearLog();
  NewRun();
  StartRun();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin"),
            (std::vector<std::string>{"bytes=" + std::to_string(resumeAt) + "-399999"}));
  EXPECT_TRUE(ReadFile(LocalPath("a.bin")) == a);
}

TEST_F(ResumeEngineTest, FileIsRestoredAllOrNothing) {
  // An earlier run left saved parts of one file. They are used together
  // when the planner can go on from them; otherwise none is used, the file
  // is fetched from its beginning (the old bytes are not ours any more), and
  // its part file is cut to the size the server reports as soon as the item
  // is probed.
  struct SavedPart {
    int32_t index;
    int64_t size, start, end, current;
    const char* fileName;  // null: the item's own
  };
  static const struct {
    const char* name;
    int64_t size;       // the file on the server now
    int64_t oldSize;    // the part file the earlier run left
    int partsAtOnce;    // this run's setting; every run divides at 10000 bytes
    std::vector<SavedPart> saved;
    bool restored;
    std::vector<std::string> ranges;  // this run's GETs, sorted
  } kCases[] = {
      // One at a time fetched 40000 bytes as one part; three at once divide
      // the file into four ranges.
      {"another parts setting divides the file differently", 40000, 40000, 3,
       {{0, 40000, 0, 39999, 15000, nullptr}},
       false,
       {"bytes=0-9999", "bytes=10000-19999", "bytes=20000-29999", "bytes=30000-39999"}},
      {"the file changed size on the server", 50000, 60000, 1,
       {{0, 60000, 0, 59999, 30000, nullptr}},
       false,
       {"bytes=0-49999"}},
      // Its bytes were checked in another part file than the one it would
      // continue.
      {"a part names another file", 30000, 30000, 1,
       {{0, 30000, 0, 29999, 20000, "other.bin"}},
       false,
       {"bytes=0-29999"}},
      // The planner would fetch the third range again and never the first.
      {"a range below the saved ones is missing", 40000, 40000, 3,
       {{0, 40000, 20000, 29999, 25000, nullptr}, {1, 40000, 10000, 19999, 15000, nullptr}},
       false,
       {"bytes=0-9999", "bytes=10000-19999", "bytes=20000-29999", "bytes=30000-39999"}},
      // Two at once started the second range, then the first; three at once
      // divide the same way, so the planner goes on with the third.
      {"another parts setting with the same division", 40000, 40000, 3,
       {{0, 40000, 10000, 19999, 15000, nullptr}, {1, 40000, 0, 9999, 5000, nullptr}},
       true,
       {"bytes=15000-19999", "bytes=20000-29999", "bytes=30000-39999", "bytes=5000-9999"}},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const auto& c = kCases[i];
    SCOPED_TRACE(c.name);
    const std::string name = "f" + std::to_string(i) + ".bin";
    const std::string path = "/" + name;
    const std::string content = TestBytes(c.size, 40 + i);
    server_->AddFile(path, content);
    server_->ClearLog();
    NewRun();  // the previous case's run ends before the earlier run is set up
    // Parts to be used hold the real bytes; others something else.
    std::vector<std::pair<std::string, std::string>> partFiles = {
        {name, c.restored ? content : TestBytes(c.oldSize, 90 + i)}};
    std::vector<ResumeEntry> saved;
    for (const SavedPart& s : c.saved) {
      saved.push_back(Saved(path, s.index, s.size, s.start, s.end, s.current));
      if (s.fileName) {
        saved.back().fileName = FromUtf8(s.fileName);
        partFiles.push_back({s.fileName, content});
      }
    }
    EarlierRun(partFiles, saved);
    DownloadNames = {FromUtf8(name), u"other.bin"};
    manager_->SetPartsAtOnceOverride(c.partsAtOnce);
    manager_->SetMaxPartSize(10000);
    StartRun();
    ASSERT_EQ(ProbeAll({Url(path)}), 0);
    EXPECT_EQ(FileSizeOf(name + ".tmp"), c.restored ? c.oldSize : c.size);
    EXPECT_EQ(Messages(DLGN_PART_STARTED).size(), c.restored ? c.saved.size() : 0u);
    size_t from = sink_->size();
    Post(MGRM_START);
    ASSERT_GE(Wait(DLGN_ALL_COMPLETE, from), 0);
    std::vector<std::string> ranges = GetRanges(path);
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_TRUE(ReadFile(LocalPath(name)) == content);
  }
}

}  // namespace
}  // namespace vespar::engine_testing
