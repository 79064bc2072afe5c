// The manager with the real resume file: a download interrupted by a quit
// continues in the next run from the saved offset, and the file is removed
// once everything is complete.

#include "src/engine/engine_test_fixture.h"
#include "src/engine/resume_store.h"
#include "tests/support/fault.h"

namespace vespar::engine_testing {
namespace {

class SavedStateTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    location_ = ResumeLocationFor(dir_ + "/docs/", ApplicationTitle);
    DownloadNames = {u"a.bin"};
    listFinished_.Set();
  }
  std::unique_ptr<FileResumeStore> MakeStore() {
    FileResumeStore::Options options;
    options.location = location_;
    options.listFinished = &listFinished_;
    return std::make_unique<FileResumeStore>(std::move(options));
  }
  void TearDown() override {
    DownloadNames.clear();
    EngineTest::TearDown();
  }
  // A fresh manager and window, as a new run of the program has.
  void NewRun(FileResumeStore* store) {
    manager_.reset();
    manager_ = std::make_unique<CDownloadManager>();
    sink_ = std::make_unique<RecordingWindowSink>();
    manager_->SetWindow(sink_.get());
    manager_->SetResumeStore(store);
    manager_->SetTimings(timings_);
    manager_->downloadFolder = FromUtf8(download_dir_ + "/");
    ASSERT_TRUE(manager_->Start(nullptr, true));
  }

  ResumeLocation location_;
  ManualResetEvent listFinished_;
};

TEST_F(SavedStateTest, QuitDownloadContinuesInTheNextRun) {
  const std::string content = TestBytes(200000, 51);
  server_->AddFile("/a.bin", content);
  testing::Fault fault;
  fault.method = testing::FaultMethod::kGet;
  fault.times = 1;
  fault.cut_after = 50000;
  fault.ending = testing::Ending::kStall;
  server_->SetFault("/a.bin", fault);
  timings_.receiveMs = 60000;

  auto first = MakeStore();
  NewRun(first.get());
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  // Wait until the 50000 bytes sent before the stall are on disk.
  int index = 0;
  while (manager_->totalWritten.load() < 50000) {
    index = Wait(DLGN_PROGRESS, index);
    ASSERT_GE(index, 0);
    ++index;
  }
  manager_->Quit();
  std::string saved = ReadFile(location_.file);
  EXPECT_NE(saved.find("CURRENTOFFSET=50000\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("STATES=4\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("CONTENT=" + Url("/a.bin") + "\r\n"), std::string::npos) << saved;

  manager_.reset();  // the first run ends before the second store exists
  auto second = MakeStore();
  NewRun(second.get());
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(GetRanges("/a.bin").back(), "bytes=50000-199999");
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  manager_->Quit();
  EXPECT_FALSE(PosixFileSystem().Exists(location_.file));
}

TEST_F(SavedStateTest, NothingReadMeansNothingOverwritten) {
  // A run that ends before the front end asked anything leaves the saved
  // state as it was.
  PosixFileSystem().MakeFolders(location_.folder);
  {
    std::ofstream out(location_.file, std::ios::binary);
    out << "kept as it is";
  }
  auto store = MakeStore();
  NewRun(store.get());
  manager_->Quit();
  EXPECT_EQ(ReadFile(location_.file), "kept as it is");
}

}  // namespace
}  // namespace vespar::engine_testing
