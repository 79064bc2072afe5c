// vespar-console downloading end to end: the real binary against the demo
// server and against the in-process test server with faults.

#include <signal.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/console_e2e.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

using namespace e2e;
using testing::TestServer;

// What the demo configuration downloads, below the download folder.
const std::vector<std::string> kDemoFiles = {
    "client/large.bin",  "client/medium.bin", "client/read me.txt", "client/small.dat",
    "client/한글파일.dat", "patch/readme.txt",  "patch/setup.sh"};

// The launch script leaves this file in the folder it runs in.
constexpr char kLaunchMarker[] = "launched.txt";

void ExpectSameFiles(const fs::path& downloaded, const fs::path& source,
                     const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string sum = Sha256Of(downloaded / name);
    EXPECT_EQ(sum.size(), 64u);
    EXPECT_EQ(sum, Sha256Of(source / name));
  }
}

std::vector<std::string> With(std::vector<std::string> names, const std::string& more) {
  names.push_back(more);
  std::sort(names.begin(), names.end());
  return names;
}

bool OwnerMayRun(const fs::path& file) {
  return (fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

TEST(ConsoleDownloadTest, DownloadsTheDemoTreeAndRunsTheLaunchScript) {
  static const struct {
    const char* name;
    std::vector<std::string> flags;
  } kCases[] = {
      {"one part a file", {}},
      {"three parts at once", {"--parts", "3", "--extra-parts", "2"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    DemoServer demo(temp.path() / "server-home", temp.path() / "source");
    ASSERT_FALSE(demo.config_url().empty());
    const fs::path folder = temp.path() / "download";
    std::vector<std::string> args = {"--config-url", demo.config_url(), "--folder",
                                     folder.string(), "--overwrite", "yes"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());

    RunResult run = RunConsole(temp.path() / "home", args);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("started " + (folder / "patch" / "setup.sh").string()),
              std::string::npos)
        << run.out;

    // The script runs detached in the download folder.
    ASSERT_TRUE(WaitForFile(folder / kLaunchMarker)) << run.out;
    EXPECT_EQ(FilesBelow(folder), With(kDemoFiles, kLaunchMarker));
    ExpectSameFiles(folder, temp.path() / "source", kDemoFiles);
    EXPECT_TRUE(PartFilesBelow(folder).empty());
    // Only the launch file was made executable.
    EXPECT_TRUE(OwnerMayRun(folder / "patch" / "setup.sh"));
    EXPECT_FALSE(OwnerMayRun(folder / "client" / "small.dat"));
  }
}

TEST(ConsoleDownloadTest, NoLaunchPrintsThePathInstead) {
  TempDir temp;
  DemoServer demo(temp.path() / "server-home", temp.path() / "source",
                  {"--size-scale", "0.05"});
  const fs::path folder = temp.path() / "download";
  RunResult run = RunConsole(temp.path() / "home",
                             {"--config-url", demo.config_url(), "--folder", folder.string(),
                              "--overwrite", "no", "--no-launch"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("launch file: " + (folder / "patch" / "setup.sh").string() + "\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(FilesBelow(folder), kDemoFiles);  // no marker: nothing ran
  EXPECT_FALSE(OwnerMayRun(folder / "patch" / "setup.sh"));
  ExpectSameFiles(folder, temp.path() / "source", kDemoFiles);
}

// A test server holding a configuration for the files given.
class ConsoleServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  // The configuration lists `entries` (":"-separated) below the server.
  void Configure(const std::string& entries, const std::string& launch = "") {
    server_.AddFile("/vespar.ini",
                    "r\r\n" + server_.Url("/") + "\r\n" + entries + "\r\n" + launch + "\r\n");
  }

  std::vector<std::string> Args(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--config-url", server_.Url("/vespar.ini"), "--folder",
                                     folder().string(), "--no-launch"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  fs::path folder() const { return temp_.path() / "download"; }
  fs::path home() const { return temp_.path() / "home"; }

  std::unique_ptr<Child> StartConsole(std::vector<std::string> args) {
    args.insert(args.begin(), ConsoleBinary());
    return std::make_unique<Child>(args, ChildEnvironment(home()));
  }

  TempDir temp_;
  TestServer server_;
};

TEST_F(ConsoleServerTest, ProbeFailuresEndTheRunBeforeAnythingStarts) {
  static const struct {
    const char* name;
    std::string entries;
    testing::Fault fault;  // on /files/b.dat
    std::string message;
  } kCases[] = {
      {"missing file", "files/a.dat:files/missing.dat", {}, "Vespar Downloader: 파일이 없습니다.\n"},
      {"duplicate entry", "files/a.dat:files/a.dat", {},
       "Vespar Downloader: The download list names a file twice: "},
      {"no length", "files/a.dat:files/b.dat",
       [] {
         testing::Fault f;
         f.method = testing::FaultMethod::kHead;
         f.length = testing::LengthFault::kMissing;
         return f;
       }(),
       "Vespar Downloader: The server gave no usable size for a file"},
      {"server error", "files/b.dat", [] {
         testing::Fault f;
         f.method = testing::FaultMethod::kHead;
         f.status = 503;
         return f;
       }(),
       "Vespar Downloader: Network Error Code Number : 503\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server_.ClearFaults();
    server_.ClearLog();
    server_.AddFile("/files/a.dat", std::string(5000, 'a'));
    server_.AddFile("/files/b.dat", std::string(7000, 'b'));
    server_.SetFault("/files/b.dat", c.fault);
    Configure(c.entries);
    RunResult run = RunConsole(home(), Args());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    // A partial list is never started: no ranged request, nothing on disk.
    for (const auto& request : server_.Requests()) EXPECT_FALSE(request.has_range) << request.target;
    EXPECT_TRUE(FilesBelow(folder()).empty());
  }
}

TEST_F(ConsoleServerTest, FailedTransferIsResumedWithGrowingPausesThenGivenUp) {
  const std::string content(300000, 'r');
  server_.AddFile("/files/r.dat", content);
  Configure("files/r.dat");
  testing::Fault refuse;
  refuse.method = testing::FaultMethod::kGet;
  refuse.status = 500;

  // Refused once: the console resumes and the download completes.
  refuse.times = 1;
  server_.SetFault("/files/r.dat", refuse);
  RunResult recovered = RunConsole(home(), Args());
  ASSERT_EQ(recovered.status, 0) << recovered.out << recovered.err;
  EXPECT_NE(recovered.err.find("Network Error Code Number : 500"), std::string::npos);
  EXPECT_NE(recovered.out.find("resuming in 1 s (attempt 1 of 10)"), std::string::npos);
  EXPECT_EQ(ReadFile(folder() / "files" / "r.dat"), content);

  // Refused for good: one resume allowed, then a clear reason.
  fs::remove_all(folder());
  refuse.times = -1;
  server_.SetFault("/files/r.dat", refuse);
  RunResult given_up = RunConsole(home(), Args({"--retries", "1"}));
  EXPECT_EQ(given_up.status, 1) << given_up.out << given_up.err;
  EXPECT_NE(given_up.err.find("Giving up after 1 attempts to resume: "
                              "Network Error Code Number : 500"),
            std::string::npos)
      << given_up.err;
  EXPECT_FALSE(fs::exists(folder() / "files" / "r.dat"));
}

TEST_F(ConsoleServerTest, SecondInstanceIsRefusedWhileTheFirstRuns) {
  server_.AddFile("/files/big.dat", std::string(1 << 20, 'x'));
  Configure("files/big.dat");
  testing::Fault stall;
  stall.method = testing::FaultMethod::kGet;
  stall.stall_before_head = true;
  server_.SetFault("/files/big.dat", stall);

  std::unique_ptr<Child> first = StartConsole(Args());
  // Configuration, probe, then the ranged GET that stalls: the first
  // instance holds its lock and waits.
  ASSERT_TRUE(server_.WaitForRequests(3, 30000));
  ASSERT_TRUE(server_.Requests().back().has_range);

  RunResult second = RunConsole(home(), Args());
  EXPECT_EQ(second.status, 3);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err.rfind("vespar-console: Vespar Downloader is already running (lock ", 0), 0u)
      << second.err;
  EXPECT_EQ(std::count(second.err.begin(), second.err.end(), '\n'), 1);
  // It read the configuration and stopped there: no probe, no transfer.
  EXPECT_EQ(server_.RequestCount("/files/big.dat"), 2u);

  // The first one still stops at once on SIGTERM, stall or not.
  first->Signal(SIGTERM);
  EXPECT_EQ(first->Wait(20000), 128 + SIGTERM) << first->err();
}

TEST_F(ConsoleServerTest, StopSignalMidDownloadKeepsThePartFiles) {
  static const struct {
    int signo;
  } kCases[] = {{SIGTERM}, {SIGINT}};
  const std::string content(2 << 20, 'p');
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.signo);
    fs::remove_all(folder());
    server_.ClearLog();
    server_.AddFile("/files/part.dat", content);
    Configure("files/part.dat");
    // Half of the file, then silence.
    testing::Fault half;
    half.method = testing::FaultMethod::kGet;
    half.cut_after = 1 << 20;
    half.ending = testing::Ending::kStall;
    server_.SetFault("/files/part.dat", half);

    const int64_t sent_before = server_.BytesSent();
    std::unique_ptr<Child> console = StartConsole(Args());
    ASSERT_TRUE(server_.WaitForBytesSent(sent_before + (1 << 20), 30000));
    ASSERT_TRUE(WaitForFile(folder() / "files" / "part.dat.tmp"));
    console->Signal(c.signo);
    EXPECT_EQ(console->Wait(20000), 128 + c.signo) << console->err();
    EXPECT_NE(console->err().find("stopped by signal"), std::string::npos) << console->err();
    EXPECT_EQ(PartFilesBelow(folder()), std::vector<std::string>{"files/part.dat.tmp"});
    EXPECT_FALSE(fs::exists(folder() / "files" / "part.dat"));
  }
}

TEST_F(ConsoleServerTest, ChosenFolderRestoresOrDiscardsTheSavedState) {
  static const struct {
    const char* name;
    const char* second_folder;  // below the temporary folder
    bool resumes;               // the second run continues the first one's part
  } kCases[] = {
      {"the saved folder again", "first", true},
      {"another folder", "second", false},
  };
  const std::string content(2 << 20, 'f');
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir temp;
    const fs::path home = temp.path() / "home";
    const fs::path first = temp.path() / "first";
    const fs::path second = temp.path() / c.second_folder;
    server_.ClearFaults();
    server_.AddFile("/files/f.dat", content);
    Configure("files/f.dat");
    // The first run gets half of the file, then silence, and is stopped.
    testing::Fault half;
    half.method = testing::FaultMethod::kGet;
    half.cut_after = 1 << 20;
    half.ending = testing::Ending::kStall;
    half.times = 1;
    server_.SetFault("/files/f.dat", half);
    const int64_t sent = server_.BytesSent();
    auto console = std::make_unique<Child>(
        std::vector<std::string>{ConsoleBinary(), "--config-url", server_.Url("/vespar.ini"),
                                 "--folder", first.string(), "--no-launch"},
        ChildEnvironment(home));
    ASSERT_TRUE(server_.WaitForBytesSent(sent + (1 << 20), 30000));
    ASSERT_TRUE(WaitForFile(first / "files" / "f.dat.tmp"));
    console->Signal(SIGINT);
    ASSERT_EQ(console->Wait(20000), 128 + SIGINT) << console->err();

    server_.ClearLog();
    RunResult run = RunConsole(home, {"--config-url", server_.Url("/vespar.ini"), "--folder",
                                      second.string(), "--no-launch"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadFile(second / "files" / "f.dat"), content);
    // The list was probed before and after the folder choice.
    size_t heads = 0;
    std::vector<std::string> ranges;
    for (const auto& r : server_.Requests()) {
      if (r.path != "/files/f.dat") continue;
      if (r.method == "HEAD") ++heads;
      if (r.method == "GET") ranges.push_back(r.range);
    }
    EXPECT_EQ(heads, 2u);
    ASSERT_EQ(ranges.size(), 1u);
    const bool from_start = ranges[0].rfind("bytes=0-", 0) == 0;
    EXPECT_EQ(from_start, !c.resumes) << ranges[0];
    // A discarded part file is left where it was; nothing else is.
    EXPECT_EQ(PartFilesBelow(first),
              c.resumes ? std::vector<std::string>{} : std::vector<std::string>{"files/f.dat.tmp"});
  }
}

}  // namespace
}  // namespace vespar
