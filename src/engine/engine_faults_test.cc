// Servers and disks that misbehave: every answer that is not exactly the
// requested range is refused before a byte is written, a failed write stops
// the part, a probe without a usable length fails.

#include <errno.h>

#include "src/engine/engine_test_fixture.h"
#include "tests/support/fault.h"

namespace vespar::engine_testing {
namespace {

using testing::Fault;
using testing::FaultMethod;

using FaultTest = EngineTest;

int64_t FileSizeOf(const std::string& path) {
  int64_t size = -1;
  PosixFileSystem().FileSize(path, &size);
  return size;
}

TEST_F(FaultTest, AnswersThatAreNotTheRangeFailThePartBeforeAnyByte) {
  static const struct {
    const char* name;
    Fault fault;
    int code;
  } kCases[] = {
      {"404 page", [] { Fault f; f.status = 404; return f; }(), 404},
      {"500 page", [] { Fault f; f.status = 500; return f; }(), 500},
      {"Range ignored", [] { Fault f; f.ignore_range = true; return f; }(), kErrorRangeRefused},
      {"other range",
       [] { Fault f; f.content_range = "bytes 0-99/25000"; return f; }(), kErrorRangeRefused},
      {"other file size",
       [] { Fault f; f.content_range = "bytes 10000-24999/99999"; return f; }(),
       kErrorRangeRefused},
  };
  const std::string content = TestBytes(25000, 3);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    server_->AddFile("/a.bin", content);
    Fault fault = c.fault;
    fault.method = FaultMethod::kGet;
    fault.times = 2;  // both parts' first requests
    server_->SetFault("/a.bin", fault);
    manager_->SetPartsAtOnceOverride(2);
    manager_->SetMaxPartSize(10000);
    StartManager();
    ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
    Post(MGRM_START);
    int idle = Wait(DLGN_IDLE);
    ASSERT_GE(idle, 0);
    std::vector<Message> errors = Messages(DLGN_ERROR);
    ASSERT_EQ(errors.size(), 2u);
    for (const Message& e : errors) {
      EXPECT_EQ(e.lParam, c.code);
      EXPECT_TRUE(IsRestartable(PartOf(e)->state));
      EXPECT_EQ(PartOf(e)->currentOffset.load(), PartOf(e)->startOffset);
    }
    EXPECT_EQ(manager_->totalWritten.load(), 0);
    EXPECT_EQ(sink_->Count(DLGN_PROGRESS), 0u);
    // Once the server answers properly, a resume completes an intact file.
    Post(MGRM_RESUME);
    ASSERT_GE(Wait(DLGN_ALL_COMPLETE, idle), 0);
    EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  }
}

TEST_F(FaultTest, BytesPastTheRangeAreNeverWritten) {
  const std::string content = TestBytes(20000, 4);
  server_->AddFile("/a.bin", content);
  Fault fault;
  fault.method = FaultMethod::kGet;
  fault.extra_bytes = 5000;                   // "X" past the file's end
  fault.ending = testing::Ending::kStall;     // and the connection stays open
  server_->SetFault("/a.bin", fault);
  StartManager();
  ASSERT_TRUE(Download({Url("/a.bin")}));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
  EXPECT_EQ(sink_->Count(DLGN_PART_TIMEOUT), 0u);
  EXPECT_EQ(manager_->totalWritten.load(), 20000);
}

TEST_F(FaultTest, FailedWriteStopsThePartAndResumesOnceTheCauseIsGone) {
  PosixFileSystem real;
  FaultInjectingFileSystem disk(&real);
  SetFileSystem(&disk);
  const std::string content = TestBytes(100000, 5);
  server_->AddFile("/a.bin", content);
  disk.FailWritesAfter(30000, ENOSPC);  // the disk fills up in mid-block
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  int error = Wait(DLGN_ERROR);
  ASSERT_GE(error, 0);
  EXPECT_EQ(sink_->at(error).lParam, kErrorWriteFailed);
  CPartWorker* part = PartOf(sink_->at(error));
  EXPECT_EQ(part->writeError.load(), ENOSPC);
  int idle = Wait(DLGN_IDLE, error);
  ASSERT_GE(idle, 0);
  // What is counted is what is on disk.
  EXPECT_EQ(part->currentOffset.load(), 30000);
  EXPECT_EQ(manager_->totalWritten.load(), 30000);
  EXPECT_EQ(FileSizeOf(LocalPath("a.bin.tmp")), 30000);
  EXPECT_EQ(ReadFile(LocalPath("a.bin.tmp")), content.substr(0, 30000));
  EXPECT_FALSE(Exists("a.bin"));
  EXPECT_EQ(sink_->Count(DLGN_ALL_COMPLETE), 0u);

  disk.ClearFaults();
  Post(MGRM_RESUME);
  ASSERT_GE(Wait(DLGN_ALL_COMPLETE, idle), 0);
  EXPECT_EQ(GetRanges("/a.bin").back(), "bytes=30000-99999");
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), content);
}

TEST_F(FaultTest, ProbeWithoutAUsableAnswerFails) {
  static const struct {
    const char* name;
    Fault fault;
    int code;
  } kCases[] = {
      {"no length",
       [] { Fault f; f.length = testing::LengthFault::kMissing; return f; }(),
       kErrorProbeNoLength},
      {"length not a number",
       [] {
         Fault f;
         f.length = testing::LengthFault::kMissing;
         f.extra_head_lines = "Content-Length: many\r\n";
         return f;
       }(),
       kErrorProbeNoLength},
      {"no status line",
       [] { Fault f; f.raw_response = std::string("garbage\r\n\r\n"); return f; }(),
       kErrorProbeNoLength},
      {"closed without an answer",
       [] { Fault f; f.raw_response = std::string(); return f; }(), kErrorProbeNoLength},
      {"missing file", [] { Fault f; f.status = 404; return f; }(), 404},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    server_->AddFile("/a.bin", "0123456789");
    server_->AddFile("/b.bin", "0123456789");
    Fault fault = c.fault;
    fault.method = FaultMethod::kHead;
    server_->SetFault("/a.bin", fault);
    StartManager();
    EXPECT_EQ(ProbeAll({Url("/a.bin"), Url("/b.bin")}), 1);
    std::vector<Message> errors = Messages(DLGN_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].wParam, 0u);
    EXPECT_EQ(errors[0].lParam, c.code);
    // The file neither vanishes silently nor becomes an empty one.
    EXPECT_EQ(sink_->Count(DLGN_ITEM_ADDED), 0u);
    EXPECT_TRUE(manager_->itemUrls.empty());
    EXPECT_EQ(server_->RequestCount("/b.bin"), 0u);
  }
}

TEST_F(FaultTest, UnsafeNamesAreRefusedWithoutARequest) {
  static const char* const kPaths[] = {"/folder/", "/a/..", "/a/."};
  for (const char* path : kPaths) {
    SCOPED_TRACE(path);
    TearDown();
    SetUp();
    StartManager();
    EXPECT_EQ(ProbeAll({Url(path)}), 1);
    std::vector<Message> errors = Messages(DLGN_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].lParam, kErrorUnsafePath);
    EXPECT_EQ(server_->RequestCount(), 0u);
  }
}

TEST_F(FaultTest, UnsafeFolderIsRefusedWithTheLayoutFlag) {
  FolderLayoutFlag = u"r";
  ContentBaseUrl = FromUtf8(Url("/"));
  StartManager();
  EXPECT_EQ(ProbeAll({Url("/x/../../escape.bin")}), 1);
  ASSERT_EQ(Messages(DLGN_ERROR).size(), 1u);
  EXPECT_EQ(Messages(DLGN_ERROR)[0].lParam, kErrorUnsafePath);
  EXPECT_EQ(server_->RequestCount(), 0u);
}

TEST_F(FaultTest, WorkerThreadThatCannotStartFailsItsPartWithAReport) {
  server_->AddFile("/a.bin", TestBytes(1000));
  manager_->SetThreadStartFailureForTesting(true);
  StartManager();
  ASSERT_EQ(ProbeAll({Url("/a.bin")}), 0);
  Post(MGRM_START);
  int error = Wait(DLGN_ERROR);
  ASSERT_GE(error, 0);
  EXPECT_EQ(sink_->at(error).lParam, kErrorThreadStart);
  EXPECT_NE(sink_->at(error).wParam, 0u);
  // The start is uncounted again: the manager reports that nothing runs.
  ASSERT_GE(Wait(DLGN_IDLE, error), 0);
  EXPECT_EQ(manager_->ActiveWorkerCount(), 0);
}

}  // namespace
}  // namespace vespar::engine_testing
