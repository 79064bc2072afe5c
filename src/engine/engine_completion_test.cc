// Completion: final names, the one question about existing files, numbered
// names with the launch name following, and failures that must not be
// reported as success.

#include <errno.h>

#include <fstream>

#include "src/engine/engine_test_fixture.h"

namespace vespar::engine_testing {
namespace {

class CompletionTest : public EngineTest {
 protected:
  void Put(const std::string& relative, const std::string& content) {
    PosixFileSystem().MakeFolders(download_dir_);
    std::ofstream(LocalPath(relative), std::ios::binary) << content;
  }
};

TEST_F(CompletionTest, KeptFilesStayAndTheNewOnesAreNumbered) {
  Put("setup.sh", "old setup");
  Put("data.bin", "old data");
  Put("data(1).bin", "older data");
  server_->AddFile("/setup.sh", "new setup");
  server_->AddFile("/data.bin", "new data");
  LaunchFileName = u"setup.sh";
  prompt_.Script({PromptAnswer::kNo});
  StartManager();
  ASSERT_TRUE(Download({Url("/setup.sh"), Url("/data.bin")}));

  EXPECT_EQ(ReadFile(LocalPath("setup.sh")), "old setup");
  EXPECT_EQ(ReadFile(LocalPath("setup(1).sh")), "new setup");
  EXPECT_EQ(ReadFile(LocalPath("data.bin")), "old data");
  EXPECT_EQ(ReadFile(LocalPath("data(1).bin")), "older data");
  EXPECT_EQ(ReadFile(LocalPath("data(2).bin")), "new data");
  ASSERT_EQ(prompt_.asked().size(), 1u);  // asked once for both files
  EXPECT_EQ(prompt_.asked()[0].text, u"동일한 파일이 있습니다 덮어쓰시겠습니까?");
  EXPECT_EQ(prompt_.asked()[0].caption, u"알림");
  EXPECT_EQ(prompt_.asked()[0].buttons, PromptButtons::kYesNo);
  // The numbered copy is the one to start.
  EXPECT_EQ(LaunchFileName, u"setup(1).sh");
  std::string launch;
  ASSERT_TRUE(manager_->LaunchPath(&launch));
  EXPECT_EQ(launch, LocalPath("setup(1).sh"));
}

TEST_F(CompletionTest, YesOverwritesEveryExistingFile) {
  Put("a.bin", "old a");
  Put("b.bin", "old b");
  server_->AddFile("/a.bin", "new a");
  server_->AddFile("/b.bin", "new b");
  prompt_.Script({PromptAnswer::kYes});
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin"), Url("/b.bin")}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), "new a");
  EXPECT_EQ(ReadFile(LocalPath("b.bin")), "new b");
  EXPECT_FALSE(Exists("a(1).bin"));
  EXPECT_EQ(prompt_.asked().size(), 1u);
}

TEST_F(CompletionTest, NoQuestionWithoutExistingFiles) {
  server_->AddFile("/a.bin", "a");
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_TRUE(prompt_.asked().empty());
}

TEST_F(CompletionTest, FailedRenameIsAnErrorAndAStartAgainCompletes) {
  PosixFileSystem real;
  FaultInjectingFileSystem disk(&real);
  SetFileSystem(&disk);
  server_->AddFile("/a.bin", "content a");
  LaunchFileName = u"a.bin";
  disk.FailRenames(EACCES);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  int error = Wait(DLGN_ERROR);
  ASSERT_GE(error, 0);
  EXPECT_EQ(sink_->at(error).wParam, 0u);
  EXPECT_EQ(sink_->at(error).lParam, kErrorFinalName);
  EXPECT_EQ(sink_->Count(DLGN_ALL_COMPLETE), 0u);
  EXPECT_TRUE(Exists("a.bin.tmp"));
  EXPECT_FALSE(Exists("a.bin"));

  // Once the cause is gone, a start names the completed file.
  disk.ClearFaults();
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, error), 0);
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), "content a");
  EXPECT_FALSE(Exists("a.bin.tmp"));
  EXPECT_EQ(GetRanges("/a.bin").size(), 1u);  // nothing fetched twice
  manager_->Quit();
  EXPECT_TRUE(manager_->allDone);
}

TEST_F(CompletionTest, StateKeptWhenCompletionFails) {
  PosixFileSystem real;
  FaultInjectingFileSystem disk(&real);
  SetFileSystem(&disk);
  server_->AddFile("/a.bin", "content a");
  disk.FailRenames(EACCES);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  ASSERT_GE(Wait(DLGN_ERROR), 0);
  manager_->Quit();
  // Not complete: the saved state is written, not removed.
  EXPECT_FALSE(manager_->allDone);
}

TEST_F(CompletionTest, FailedDeletionStopsWithAMessageAndAnError) {
  PosixFileSystem real;
  FaultInjectingFileSystem disk(&real);
  SetFileSystem(&disk);
  Put("a.bin", "old a");
  server_->AddFile("/a.bin", "new a");
  server_->AddFile("/b.bin", "new b");
  prompt_.Script({PromptAnswer::kYes});
  disk.FailRemoves(EBUSY);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin"), Url("/b.bin")}), 0);
  Post(MGRM_START);
  int error = Wait(DLGN_ERROR);
  ASSERT_GE(error, 0);
  EXPECT_EQ(sink_->at(error).lParam, kErrorFinalName);
  ASSERT_EQ(prompt_.asked().size(), 2u);
  EXPECT_EQ(prompt_.asked()[1].text, u"파일삭제 실패");
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), "old a");
  // Completion stopped there: the next file keeps its part file.
  EXPECT_TRUE(Exists("b.bin.tmp"));
  EXPECT_EQ(sink_->Count(DLGN_ALL_COMPLETE), 0u);
}

TEST_F(CompletionTest, LaunchFileOutsideTheDownloadFolderIsRefused) {
  server_->AddFile("/a.bin", "a");
  LaunchFileName = u"../../bin/sh";
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  std::string launch;
  EXPECT_FALSE(manager_->LaunchPath(&launch));
}

}  // namespace
}  // namespace vespar::engine_testing
