// The resume store on a manager that is not started: its fields are set by
// hand and the store is called as the manager thread would call it.

#include "src/engine/resume_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "src/bootstrap/globals.h"
#include "src/engine/download_manager.h"
#include "src/engine/resume_stamp.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/event.h"
#include "src/platform/file_system.h"

namespace vespar {
namespace {

using std::chrono::milliseconds;
using SteadyTime = std::chrono::steady_clock::time_point;

constexpr char16_t kTitle[] = u"Vespar Downloader";
constexpr char16_t kBase[] = u"http://cdn.example/c/";

// Notes every write and sync with the file it went to.
class RecordingFileSystem : public PosixFileSystem {
 public:
  int OpenForWrite(const std::string& path, OpenMode mode, int* fd) override {
    int error = PosixFileSystem::OpenForWrite(path, mode, fd);
    std::lock_guard<std::mutex> lock(mutex);
    if (error == 0) paths[*fd] = path.substr(path.rfind('/') + 1);
    return error;
  }
  int WriteAt(int fd, const void* data, size_t size, int64_t offset,
              size_t* written) override {
    Note("write ", fd);
    return PosixFileSystem::WriteAt(fd, data, size, offset, written);
  }
  int SyncData(int fd) override {
    Note("sync ", fd);
    return PosixFileSystem::SyncData(fd);
  }
  void Note(const char* what, int fd) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(what + paths[fd]);
  }
  std::mutex mutex;
  std::map<int, std::string> paths;
  std::vector<std::string> log;
};

class ResumeStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vespar-store-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root_ = pattern;
    SetLogFolderForTesting(root_ + "/log");
    ApplicationTitle = kTitle;
    FolderLayoutFlag.clear();
    ContentBaseUrl.clear();
    DownloadBases.clear();
    DownloadFolders.clear();
    DownloadNames = {u"a.pak", u"b.pak"};
    downloads_ = FromUtf8(root_ + "/dl/");
    ASSERT_EQ(0, PosixFileSystem().MakeFolders(root_ + "/dl"));
    location_ = ResumeLocationFor(root_ + "/Documents/", kTitle);
    manager_.downloadFolder = downloads_;
    MakeStore();
  }
  void TearDown() override {
    store_.reset();
    for (int fd : manager_.heldFiles) ::close(fd);
    manager_.heldFiles.clear();
    SetFileSystem(nullptr);
    SetLogFolderForTesting("");
    DownloadNames.clear();
    std::string command = "rm -rf '" + root_ + "'";
    (void)std::system(command.c_str());
  }

  void MakeStore(int listWaitMs = 60000) {
    FileResumeStore::Options options;
    options.location = location_;
    options.listFinished = &listFinished_;
    options.listWaitMs = listWaitMs;
    options.now = [this] { return SteadyTime(milliseconds(clockMs_.load())); };
    options.onWritten = [this](const ResumeWriteStatus& s) {
      ++writes_;
      lastStatus_ = s;
    };
    store_ = std::make_unique<FileResumeStore>(std::move(options));
  }

  // A part file of `size` bytes with its creation stamp, as the engine makes
  // one.
  std::string MakePartFile(const std::u16string& name, int64_t size) {
    std::string path = ToUtf8(downloads_ + name) + ".tmp";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(0, ::ftruncate(fd, size));
    EXPECT_NE(0u, EnsureCreationStamp(fd));
    ::close(fd);
    return path;
  }
  static uint64_t StampOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    uint64_t stamp = ReadCreationStamp(fd);
    ::close(fd);
    return stamp;
  }

  static ResumeEntry Entry(const std::u16string& name, int32_t index, int64_t start,
                           int64_t end, int64_t current, int64_t size = 1000) {
    ResumeEntry e;
    e.partIndex = index;
    e.content = kBase + name;
    e.fileName = name;
    e.fileSize = size;
    e.state = PART_STOPPED;
    e.startOffset = start;
    e.endOffset = end;
    e.currentOffset = current;
    return e;
  }
  // Writes the file an earlier run would have left.
  void WriteEarlierRun(const std::vector<ResumeEntry>& entries) {
    ASSERT_TRUE(WriteResumeFile(location_, kTitle, downloads_, entries, ResumePartFilePath).ok());
  }
  // A running part of this run.
  CPartWorker* AddWorker(const std::u16string& name, int32_t index, int64_t start,
                         int64_t end, int64_t current, int16_t state = PART_TRANSFERRING) {
    manager_.workers.push_back(std::make_unique<CPartWorker>());
    CPartWorker* p = manager_.workers.back().get();
    p->sourceUrl = kBase + name;
    p->connectUrl = p->sourceUrl;
    p->fileName = name;
    p->fileSize = 1000;
    p->partIndex = index;
    p->startOffset = start;
    p->endOffset = end;
    p->currentOffset = current;
    p->state = state;
    p->localPath = downloads_ + name;
    return p;
  }

  std::string Contents() const {
    std::ifstream in(location_.file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool FileExists() const {
    struct stat st;
    return ::stat(location_.file.c_str(), &st) == 0;
  }
  // The parts the resume file on disk holds.
  std::vector<ResumeEntry> OnDisk() const { return ParseResumeText(Contents()).entries; }

  std::string root_;
  std::u16string downloads_;
  ResumeLocation location_;
  ManualResetEvent listFinished_{true};
  std::atomic<int64_t> clockMs_{1000000};
  int writes_ = 0;
  ResumeWriteStatus lastStatus_;
  CDownloadManager manager_;  // never started
  std::unique_ptr<FileResumeStore> store_;
};

TEST_F(ResumeStoreTest, ReadFillsTheManagerAndKeepsTheFile) {
  MakePartFile(u"a.pak", 1000);
  MakePartFile(u"b.pak", 1000);
  WriteEarlierRun({Entry(u"a.pak", 0, 500, 999, 700), Entry(u"a.pak", 1, 0, 499, 100),
                   Entry(u"b.pak", 0, 0, 999, 10)});
  const std::string before = Contents();
  manager_.downloadFolder = u"/somewhere/else/";

  EXPECT_EQ(0, store_->ReadResumeFile(manager_));
  EXPECT_EQ(downloads_, manager_.downloadFolder);
  EXPECT_EQ(downloads_, manager_.savedFolder);
  ASSERT_EQ(3u, manager_.savedParts.size());
  ASSERT_EQ(3u, manager_.savedPartsCopy.size());
  EXPECT_EQ(700, manager_.savedParts[0].currentOffset.load());
  EXPECT_EQ(1, manager_.savedParts[1].partIndex);
  EXPECT_EQ(kBase + std::u16string(u"b.pak"), manager_.savedPartsCopy[2].sourceUrl);
  EXPECT_EQ(2u, manager_.heldFiles.size());  // one per part file
  // The file stays on disk while the program runs: a crash now loses nothing.
  EXPECT_EQ(before, Contents());
}

TEST_F(ResumeStoreTest, ReaderWaitsUntilTheListIsFinal) {
  MakePartFile(u"late.pak", 1000);
  WriteEarlierRun({Entry(u"late.pak", 0, 0, 999, 400)});
  listFinished_.Reset();
  DownloadNames = {u"a.pak"};

  int result = -1;
  std::thread manager_thread([&] { result = store_->ReadResumeFile(manager_); });
  // Start-up appends the contents script's entry, then marks the list final.
  // A reader that did not wait would not find "late.pak" in the list.
  DownloadNames.push_back(u"late.pak");
  listFinished_.Set();
  manager_thread.join();
  EXPECT_EQ(0, result);
  ASSERT_EQ(1u, manager_.savedParts.size());
  EXPECT_EQ(u"late.pak", manager_.savedParts[0].fileName);
}

TEST_F(ResumeStoreTest, ListNeverFinalResumesNothingAndKeepsTheFile) {
  MakePartFile(u"a.pak", 1000);
  WriteEarlierRun({Entry(u"a.pak", 0, 0, 999, 400)});
  const std::string before = Contents();
  listFinished_.Reset();
  MakeStore(/*listWaitMs=*/20);

  EXPECT_EQ(1, store_->ReadResumeFile(manager_));
  EXPECT_TRUE(manager_.savedParts.empty());
  // This run never saw the saved parts: its writes must not wipe them out.
  AddWorker(u"b.pak", 0, 0, 999, 300);
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  EXPECT_EQ(0, store_->WriteResumeFile(manager_));
  EXPECT_EQ(before, Contents());
}

TEST_F(ResumeStoreTest, SavedAtMostEveryFiveSecondsAndPutOffChangesComeDue) {
  MakePartFile(u"a.pak", 1000);
  ASSERT_EQ(1, store_->ReadResumeFile(manager_));  // no file yet
  CPartWorker* part = AddWorker(u"a.pak", 0, 0, 999, 0);
  static const struct {
    int64_t advanceMs;
    CheckpointReason reason;
    int64_t current;  // the part's offset when the manager calls
    bool saves;
    int dueInMs;  // what the store asks of the manager's wait afterwards
  } kSteps[] = {
      {0, CheckpointReason::kProgress, 16, true, -1},  // the first change is saved at once
      {1000, CheckpointReason::kProgress, 32, false, 4001},
      {3999, CheckpointReason::kPartEnded, 48, false, 2},  // a part end waits as well
      {1, CheckpointReason::kDue, 64, true, -1},  // 5 s: saved as it stands now
      {10, CheckpointReason::kPartEnded, 80, false, 4991},
      {4000, CheckpointReason::kDue, 80, false, 991},  // woken early: still waits
      {990, CheckpointReason::kDue, 80, true, -1},
      {10, CheckpointReason::kDue, 80, false, -1},  // nothing put off: nothing written
      {60000, CheckpointReason::kProgress, 96, true, -1},
  };
  int64_t savedOffset = -1;
  int expectedWrites = 0;
  for (size_t i = 0; i < std::size(kSteps); ++i) {
    const auto& step = kSteps[i];
    SCOPED_TRACE(i);
    clockMs_ += step.advanceMs;
    part->currentOffset = step.current;
    store_->Checkpoint(manager_, step.reason);
    if (step.saves) {
      ++expectedWrites;
      savedOffset = step.current;
    }
    EXPECT_EQ(expectedWrites, writes_);
    EXPECT_EQ(step.dueInMs, store_->CheckpointDueInMs());
    std::vector<ResumeEntry> disk = OnDisk();
    ASSERT_EQ(1u, disk.size());
    EXPECT_EQ(savedOffset, disk[0].currentOffset);
    EXPECT_EQ(PART_STOPPED, disk[0].state);  // saved as it would stand after a stop
    EXPECT_TRUE(disk[0].hasStamp);
  }
}

TEST_F(ResumeStoreTest, SavedPartsStayUntilReplacedOrDiscarded) {
  std::string bPath = MakePartFile(u"b.pak", 1000);
  MakePartFile(u"a.pak", 1000);
  WriteEarlierRun({Entry(u"b.pak", 0, 0, 999, 600)});
  const uint64_t bStamp = StampOf(bPath);
  ASSERT_EQ(0, store_->ReadResumeFile(manager_));

  // The user quits while probing: nothing of this run, the saved part stays.
  EXPECT_EQ(0, store_->WriteResumeFile(manager_));
  std::vector<ResumeEntry> disk = OnDisk();
  ASSERT_EQ(1u, disk.size());
  EXPECT_EQ(600, disk[0].currentOffset);
  EXPECT_EQ(bStamp, disk[0].stamp);

  // a.pak runs; b.pak's saved part is still waiting for its turn.
  AddWorker(u"a.pak", 0, 0, 999, 200);
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  disk = OnDisk();
  ASSERT_EQ(2u, disk.size());
  EXPECT_EQ(u"a.pak", disk[0].fileName);
  EXPECT_EQ(u"b.pak", disk[1].fileName);
  EXPECT_EQ(600, disk[1].currentOffset);
  EXPECT_EQ(bStamp, disk[1].stamp);

  // A record of this run for b.pak replaces the saved part.
  AddWorker(u"b.pak", 0, 0, 999, 0);
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  disk = OnDisk();
  ASSERT_EQ(2u, disk.size());
  EXPECT_EQ(0, disk[1].currentOffset);

  // A folder change discards everything saved and planned: gone for good.
  manager_.workers.clear();
  manager_.savedParts.clear();
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  EXPECT_TRUE(OnDisk().empty());
  EXPECT_EQ("", Contents());

  // Changing back to the saved folder brings the saved parts back.
  manager_.savedParts = manager_.savedPartsCopy;
  EXPECT_EQ(0, store_->WriteResumeFile(manager_));
  disk = OnDisk();
  ASSERT_EQ(1u, disk.size());
  EXPECT_EQ(600, disk[0].currentOffset);
}

TEST_F(ResumeStoreTest, PartFileIsFlushedBeforeItsOffsetIsRecorded) {
  RecordingFileSystem fs;
  SetFileSystem(&fs);
  MakePartFile(u"a.pak", 0);
  CPartWorker* part = AddWorker(u"a.pak", 0, 0, 999, 0);
  ASSERT_EQ(0, part->OpenPartFile());
  size_t written = 0;
  ASSERT_EQ(0, fs.WriteAt(part->fileHandle, "0123456789", 10, 0, &written));
  part->currentOffset = 10;

  store_->Checkpoint(manager_, CheckpointReason::kProgress);
  ASSERT_TRUE(lastStatus_.ok()) << lastStatus_.what;
  const std::string staging = "Vespar Downloader.tmp";
  EXPECT_EQ(fs.log, (std::vector<std::string>{"write a.pak.tmp", "sync a.pak.tmp",
                                              "write " + staging, "sync " + staging}));
  EXPECT_EQ(10, OnDisk().at(0).currentOffset);
}

TEST_F(ResumeStoreTest, OnlyPartFilesWhoseOffsetsMovedAreFlushedAgain) {
  RecordingFileSystem fs;
  SetFileSystem(&fs);
  MakePartFile(u"a.pak", 1000);
  const std::string bPath = MakePartFile(u"b.pak", 1000);
  CPartWorker* a = AddWorker(u"a.pak", 0, 0, 999, 100);
  AddWorker(u"b.pak", 0, 0, 999, 1000, PART_COMPLETE);
  auto syncs = [&fs] {
    std::lock_guard<std::mutex> lock(fs.mutex);
    std::vector<std::string> found;
    for (const std::string& line : fs.log) {
      if (line.rfind("sync ", 0) == 0 && line.find(".pak.tmp") != std::string::npos)
        found.push_back(line.substr(5));
    }
    fs.log.clear();
    return found;
  };
  using Names = std::vector<std::string>;

  store_->Checkpoint(manager_, CheckpointReason::kProgress);
  EXPECT_EQ(syncs(), (Names{"a.pak.tmp", "b.pak.tmp"}));
  a->currentOffset = 200;
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kProgress);
  EXPECT_EQ(syncs(), Names{"a.pak.tmp"});  // the finished b.pak is not flushed again
  clockMs_ += 5000;
  EXPECT_EQ(0, store_->WriteResumeFile(manager_));
  EXPECT_EQ(syncs(), Names{});
  std::vector<ResumeEntry> disk = OnDisk();
  ASSERT_EQ(2u, disk.size());
  EXPECT_EQ(200, disk[0].currentOffset);
  EXPECT_TRUE(disk[1].hasStamp);

  // b.pak made anew behind the store's back keeps the old stamp in the file,
  // so the next run does not take the new file for the finished one.
  ASSERT_EQ(0, ::unlink(bPath.c_str()));
  MakePartFile(u"b.pak", 1000);
  a->currentOffset = 300;
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kProgress);
  EXPECT_EQ(syncs(), Names{"a.pak.tmp"});
  SetFileSystem(nullptr);
  for (int fd : manager_.heldFiles) ::close(fd);
  manager_.heldFiles.clear();
  CDownloadManager next;
  next.downloadFolder = downloads_;
  MakeStore();
  ASSERT_EQ(0, store_->ReadResumeFile(next));
  ASSERT_EQ(1u, next.savedParts.size());
  EXPECT_EQ(u"a.pak", next.savedParts[0].fileName);
  EXPECT_EQ(300, next.savedParts[0].currentOffset);
  for (int fd : next.heldFiles) ::close(fd);
  next.heldFiles.clear();
}

TEST_F(ResumeStoreTest, FailedWriteKeepsThePreviousFileAndRecovers) {
  MakePartFile(u"a.pak", 1000);
  CPartWorker* part = AddWorker(u"a.pak", 0, 0, 999, 100);
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  const std::string previous = Contents();
  ASSERT_FALSE(previous.empty());

  PosixFileSystem real;
  FaultInjectingFileSystem fs(&real);
  SetFileSystem(&fs);
  fs.FailWrites(ENOSPC);
  part->currentOffset = 500;
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  EXPECT_EQ(ENOSPC, lastStatus_.error);
  EXPECT_EQ(1, store_->WriteResumeFile(manager_));
  EXPECT_EQ(previous, Contents());
  // The failed checkpoint is tried again one interval later.
  EXPECT_EQ(5001, store_->CheckpointDueInMs());

  fs.ClearFaults();
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kDue);
  EXPECT_TRUE(lastStatus_.ok());
  EXPECT_EQ(500, OnDisk().at(0).currentOffset);
  EXPECT_EQ(-1, store_->CheckpointDueInMs());
}

TEST_F(ResumeStoreTest, CompleteDownloadLeavesNoFile) {
  MakePartFile(u"a.pak", 1000);
  AddWorker(u"a.pak", 0, 0, 999, 1000, PART_COMPLETE);
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  ASSERT_TRUE(FileExists());
  manager_.allDone = true;
  clockMs_ += 5000;
  store_->Checkpoint(manager_, CheckpointReason::kPartEnded);
  EXPECT_TRUE(FileExists());  // only the end of the thread removes it
  EXPECT_EQ(-1, store_->CheckpointDueInMs());  // and nothing is put off for it
  EXPECT_EQ(0, store_->WriteResumeFile(manager_));
  EXPECT_FALSE(FileExists());
  store_->Checkpoint(manager_, CheckpointReason::kProgress);
  EXPECT_FALSE(FileExists());
}

}  // namespace
}  // namespace vespar
