// vespar-console stopped in the middle of a download, by SIGKILL at several
// points or by Ctrl-C, and started again: the download completes with the
// source's bytes, and a restarted run asks the server only for what the
// last checkpoint of the resume file left open.

#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/engine/resume_format.h"
#include "tests/console_e2e.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

using namespace e2e;
using testing::TestServer;

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kRate = 2 * kMiB;  // bytes per second of the one connection
// Progress is saved at least this often while bytes arrive.
constexpr int64_t kCheckpointSeconds = 5;

// Bytes that differ at every offset, so a misplaced block shows.
std::string Source(int64_t size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x);
  }
  return bytes;
}

class ConsoleResumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    server_.AddFile("/vespar.ini", "r\r\n" + server_.Url("/") + "\r\nfiles/big.bin\r\n\r\n");
  }

  std::unique_ptr<Child> StartConsole() {
    std::vector<std::string> args = {ConsoleBinary(), "--config-url",
                                     server_.Url("/vespar.ini"), "--folder",
                                     folder().string(), "--no-launch"};
    return std::make_unique<Child>(args, ChildEnvironment(home()));
  }
  fs::path folder() const { return temp_.path() / "download"; }
  fs::path home() const { return temp_.path() / "home"; }
  fs::path target() const { return folder() / "files" / "big.bin"; }
  fs::path partFile() const { return folder() / "files" / "big.bin.tmp"; }
  fs::path resumeFile() const {
    return home() / "documents" / "Vespar Downloader" / "Vespar Downloader.qzx";
  }

  // The one part the resume file holds; nothing when there is no file.
  std::optional<ResumeEntry> SavedPart() const {
    if (!fs::exists(resumeFile())) return std::nullopt;
    ResumeDocument doc = ParseResumeText(ReadFile(resumeFile()));
    EXPECT_TRUE(doc.complete);
    EXPECT_EQ(doc.entries.size(), 1u);
    if (doc.entries.size() != 1) return std::nullopt;
    return doc.entries[0];
  }
  // The GETs of the file since the log was cleared.
  std::vector<std::string> Gets() const {
    std::vector<std::string> ranges;
    for (const auto& r : server_.Requests()) {
      if (r.method == "GET" && r.path == "/files/big.bin") ranges.push_back(r.range);
    }
    return ranges;
  }
  // Waits for the first GET of the file since the log was cleared.
  std::string FirstGet() {
    for (size_t n = 1; server_.WaitForRequests(n, 60000); ++n) {
      std::vector<std::string> gets = Gets();
      if (!gets.empty()) return gets.front();
    }
    return "(none)";
  }
  // Checks what a stopped run left: the recorded offset never runs ahead of
  // the bytes in the part file, and those bytes are the source's. Returns
  // the bytes written but not recorded (fetched again by the next run).
  int64_t CheckStoppedRun(const ResumeEntry& saved, const std::string& source) {
    EXPECT_EQ(saved.state, 4);  // stopped, whatever it was doing
    EXPECT_TRUE(saved.hasStamp);
    EXPECT_EQ(saved.startOffset, 0);
    EXPECT_EQ(saved.endOffset, static_cast<int64_t>(source.size()) - 1);
    const std::string onDisk = ReadFile(partFile());
    EXPECT_LE(saved.currentOffset, static_cast<int64_t>(onDisk.size()));
    EXPECT_TRUE(source.compare(0, onDisk.size(), onDisk) == 0);  // written in order
    return static_cast<int64_t>(onDisk.size()) - saved.currentOffset;
  }
  static std::string RangeFrom(int64_t offset, const std::string& source) {
    return "bytes=" + std::to_string(offset) + "-" + std::to_string(source.size() - 1);
  }

  TempDir temp_;
  TestServer server_;
};

TEST_F(ConsoleResumeTest, KilledAtSeveralPointsFinishesIntact) {
  const std::string source = Source(32 * kMiB);
  server_.AddFile("/files/big.bin", source);
  server_.SetRateLimit(kRate);

  // 1. Killed after nine seconds of data: the checkpoint is at most five
  // seconds old.
  int64_t sent = server_.BytesSent();
  std::unique_ptr<Child> console = StartConsole();
  ASSERT_TRUE(server_.WaitForBytesSent(sent + 18 * kMiB, 60000));
  console->Signal(SIGKILL);
  ASSERT_EQ(console->Wait(), 128 + SIGKILL);
  std::optional<ResumeEntry> saved = SavedPart();
  ASSERT_TRUE(saved);
  EXPECT_GT(saved->currentOffset, 0);
  const int64_t lost = CheckStoppedRun(*saved, source);
  EXPECT_LE(lost, kRate * (kCheckpointSeconds + 2) + kMiB / 2)
      << "recorded " << saved->currentOffset << " of " << ReadFile(partFile()).size();
  const std::string afterFirst = ReadFile(resumeFile());

  // 2. Killed while the file is being probed: the saved progress stays.
  testing::Fault stall;
  stall.method = testing::FaultMethod::kHead;
  stall.stall_before_head = true;
  stall.times = 1;
  server_.SetFault("/files/big.bin", stall);
  server_.ClearLog();
  console = StartConsole();
  ASSERT_TRUE(server_.WaitForRequests(2, 60000));  // configuration, HEAD
  console->Signal(SIGKILL);
  ASSERT_EQ(console->Wait(), 128 + SIGKILL);
  EXPECT_TRUE(Gets().empty());
  EXPECT_EQ(ReadFile(resumeFile()), afterFirst);

  // 3. Started again: it asks for the rest only; killed soon after.
  server_.ClearFaults();
  server_.ClearLog();
  sent = server_.BytesSent();
  console = StartConsole();
  EXPECT_EQ(FirstGet(), RangeFrom(saved->currentOffset, source));
  ASSERT_TRUE(server_.WaitForBytesSent(sent + 3 * kMiB, 60000));
  console->Signal(SIGKILL);
  ASSERT_EQ(console->Wait(), 128 + SIGKILL);
  EXPECT_EQ(Gets().size(), 1u);
  std::optional<ResumeEntry> later = SavedPart();
  ASSERT_TRUE(later);
  EXPECT_GE(later->currentOffset, saved->currentOffset);
  CheckStoppedRun(*later, source);

  // 4. The last run completes from there.
  server_.SetRateLimit(0);
  server_.ClearLog();
  console = StartConsole();
  EXPECT_EQ(console->Wait(), 0) << console->out() << console->err();
  EXPECT_EQ(Gets(), std::vector<std::string>{RangeFrom(later->currentOffset, source)});
  WriteFile(temp_.path() / "source.bin", source);
  const std::string sum = Sha256Of(target());
  EXPECT_EQ(sum.size(), 64u);
  EXPECT_EQ(sum, Sha256Of(temp_.path() / "source.bin"));
  EXPECT_FALSE(fs::exists(partFile()));
  EXPECT_FALSE(fs::exists(resumeFile()));  // everything is complete
}

TEST_F(ConsoleResumeTest, CtrlCSavesEveryByteWritten) {
  const std::string source = Source(8 * kMiB);
  server_.AddFile("/files/big.bin", source);
  server_.SetRateLimit(kRate);
  const int64_t sent = server_.BytesSent();
  std::unique_ptr<Child> console = StartConsole();
  ASSERT_TRUE(server_.WaitForBytesSent(sent + 3 * kMiB, 60000));
  console->Signal(SIGINT);
  ASSERT_EQ(console->Wait(), 128 + SIGINT) << console->err();
  std::optional<ResumeEntry> saved = SavedPart();
  ASSERT_TRUE(saved);
  // A stop saves the offset of the last block written: nothing is lost.
  EXPECT_EQ(CheckStoppedRun(*saved, source), 0);
  EXPECT_GT(saved->currentOffset, 0);

  server_.SetRateLimit(0);
  server_.ClearLog();
  console = StartConsole();
  EXPECT_EQ(console->Wait(), 0) << console->out() << console->err();
  EXPECT_EQ(Gets(), std::vector<std::string>{RangeFrom(saved->currentOffset, source)});
  WriteFile(temp_.path() / "source.bin", source);
  const std::string sum = Sha256Of(target());
  EXPECT_EQ(sum.size(), 64u);
  EXPECT_EQ(sum, Sha256Of(temp_.path() / "source.bin"));
  EXPECT_FALSE(fs::exists(resumeFile()));
}

}  // namespace
}  // namespace vespar
