// The fault matrix: one table of misbehaving servers and disks, each row run
// end to end and held to one of two outcomes. Either the download completes
// with the source's bytes and no part file left, or it fails with a clear
// reason, no final file, and no byte in a part file that differs from the
// source.
//
// Most rows run the real vespar-console against the in-process test server.
// The console's time limits are the shipped 60 seconds and it has no file
// seam a test can reach from outside, so the rows that need a short time-out
// (a stall, a HEAD that never answers) or a failing disk (full, read-only)
// drive the download manager in this process instead, playing the console's
// part: resume after the manager goes idle, give up after a few resumes. The
// row with several addresses for one host runs the console in a network
// namespace of its own, where port 80 is free and dnsmasq answers the name.
//
// Prints "PASS row" or "FAIL row: reasons" per row and "N passed, M failed".

#include <errno.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "src/console/console_window.h"
#include "src/engine/engine_test_fixture.h"
#include "tests/console_e2e.h"
#include "tests/support/console_runner.h"
#include "tests/support/fault.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

using namespace e2e;
using testing::Ending;
using testing::Fault;
using testing::FaultMethod;
using testing::TestServer;

constexpr int64_t kSize = 96 * 1024;  // the one file every row downloads
constexpr int64_t kCut = 20000;       // where a broken transfer stops
constexpr int kRetries = 2;           // resumes without progress before giving up
constexpr char kFile[] = "/files/a.bin";
constexpr char kFolder[] = "/files/";
constexpr char kLocal[] = "files/a.bin";

// ---- Server behaviours ----------------------------------------------------

Fault OnGet(Fault f, int times = -1) {
  f.method = FaultMethod::kGet;
  f.times = times;
  return f;
}
Fault CutAfter(int64_t bytes, Ending ending, int times) {
  Fault f;
  f.cut_after = bytes;
  f.ending = ending;
  return OnGet(f, times);
}
Fault Status(int status, int times) {
  Fault f;
  f.status = status;
  return OnGet(f, times);
}
Fault IgnoreRange() {
  Fault f;
  f.ignore_range = true;
  return OnGet(f);
}
Fault WrongContentRange() {
  Fault f;
  f.content_range = "bytes 0-99/" + std::to_string(kSize);
  return OnGet(f);
}
Fault BytesPastTheRange() {
  Fault f;
  f.extra_bytes = 5000;
  return OnGet(f);
}
Fault SlowDrip() {
  Fault f;  // HEAD and GET, heads included
  f.drip_bytes = 1500;
  f.drip_interval_ms = 5;
  return f;
}
Fault HeadWithoutLength() {
  Fault f;
  f.method = FaultMethod::kHead;
  f.length = testing::LengthFault::kMissing;
  return f;
}
Fault HeadNeverAnswers() {
  Fault f;
  f.method = FaultMethod::kHead;
  f.stall_before_head = true;
  return f;
}
Fault Gone() {
  Fault f;
  f.status = 404;
  return f;
}

// ---- The table ------------------------------------------------------------

enum class Driver {
  kConsole,    // vespar-console against the test server
  kNamespace,  // vespar-console in a network namespace of its own
  kEngine,     // the download manager in this process, time limits of 1 s
};
enum class Before {
  kNothing,
  kStoppedRun,  // a first run is stopped with Ctrl-C once kCut bytes are on disk
  kKilledRun,   // a first run is killed with SIGKILL once kCut bytes are on disk
};
enum class Disk { kFine, kFull, kReadOnly };  // through the file seam (engine rows)
enum class Outcome { kComplete, kFails };

struct Row {
  const char* name;
  Driver driver = Driver::kConsole;
  Before before = Before::kNothing;
  Fault file_fault = {};    // on the file, for the checked run
  Fault folder_fault = {};  // on the listing of its folder, for the checked run
  Disk disk = Disk::kFine;
  Outcome outcome = Outcome::kComplete;
  // Console rows: text on standard error when the run fails.
  const char* message = "";
  // Engine rows: the first error code reported (0: none expected) and, for
  // a failed write, the errno behind it.
  int code = 0;
  int write_error = 0;
  // The Range values the checked run asks for, in order (none: not checked).
  std::optional<std::vector<std::string>> ranges = std::nullopt;
  // After the failure the server and disk mend, and one more run (or
  // resume) completes from what was kept.
  bool then_completes = false;
};

std::string RangeFrom(int64_t offset) {
  return "bytes=" + std::to_string(offset) + "-" + std::to_string(kSize - 1);
}
std::vector<std::string> Times(int n, const std::string& range) {
  return std::vector<std::string>(static_cast<size_t>(n), range);
}
const std::vector<std::string> kNoGet;
constexpr char kRangeRefused[] =
    "Giving up after 2 attempts to resume: The server did not honour the requested byte range.";

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {.name = "close after N bytes, three times, then whole",
       .file_fault = CutAfter(kCut, Ending::kClose, 3),
       .ranges = {{RangeFrom(0), RangeFrom(kCut), RangeFrom(2 * kCut), RangeFrom(3 * kCut)}}},
      {.name = "reset after N bytes", .file_fault = CutAfter(kCut, Ending::kReset, 1)},
      {.name = "slow drip", .file_fault = SlowDrip(), .ranges = {{RangeFrom(0)}}},
      {.name = "404 on GET after a good HEAD",
       .file_fault = Status(404, -1),
       .outcome = Outcome::kFails,
       .message = "Giving up after 2 attempts to resume: 파일이 없습니다.",
       .ranges = Times(1 + kRetries, RangeFrom(0)),
       .then_completes = true},
      {.name = "500 on GET after a good HEAD, once",
       .file_fault = Status(500, 1),
       .ranges = Times(2, RangeFrom(0))},
      {.name = "500 on every GET after a good HEAD",
       .file_fault = Status(500, -1),
       .outcome = Outcome::kFails,
       .message = "Giving up after 2 attempts to resume: Network Error Code Number : 500",
       .ranges = Times(1 + kRetries, RangeFrom(0)),
       .then_completes = true},
      {.name = "ignored Range on a resumed part",
       .before = Before::kStoppedRun,
       .file_fault = IgnoreRange(),
       .outcome = Outcome::kFails,
       .message = kRangeRefused,
       .ranges = Times(1 + kRetries, RangeFrom(kCut)),
       .then_completes = true},
      {.name = "wrong Content-Range",
       .file_fault = WrongContentRange(),
       .outcome = Outcome::kFails,
       .message = kRangeRefused,
       .ranges = Times(1 + kRetries, RangeFrom(0)),
       .then_completes = true},
      {.name = "bytes past the range",
       .before = Before::kStoppedRun,
       .file_fault = BytesPastTheRange(),
       .ranges = {{RangeFrom(kCut)}}},
      {.name = "HEAD without length",
       .file_fault = HeadWithoutLength(),
       .outcome = Outcome::kFails,
       .message = "The server gave no usable size for a file",
       .ranges = kNoGet,
       .then_completes = true},
      {.name = "listing that disappears",
       .before = Before::kStoppedRun,
       .folder_fault = Gone(),
       .outcome = Outcome::kFails,
       .message = "Failed...: Not found /files/",
       .ranges = kNoGet,
       .then_completes = true},
      {.name = "kill and restart mid-file", .before = Before::kKilledRun},
      {.name = "an address that refuses among several",
       .driver = Driver::kNamespace,
       .file_fault = CutAfter(kCut, Ending::kClose, 1)},
      {.name = "stall after N bytes",
       .driver = Driver::kEngine,
       .file_fault = CutAfter(kCut, Ending::kStall, 1),
       .ranges = {{RangeFrom(0), RangeFrom(kCut)}}},
      {.name = "HEAD that never answers",
       .driver = Driver::kEngine,
       .file_fault = HeadNeverAnswers(),
       .outcome = Outcome::kFails,
       .code = kErrorProbeNoLength,
       .ranges = kNoGet},
      {.name = "disk full",
       .driver = Driver::kEngine,
       .disk = Disk::kFull,
       .outcome = Outcome::kFails,
       .code = kErrorWriteFailed,
       .write_error = ENOSPC,
       .ranges = {{RangeFrom(0), RangeFrom(kCut), RangeFrom(kCut)}},
       .then_completes = true},
      {.name = "read-only folder",
       .driver = Driver::kEngine,
       .disk = Disk::kReadOnly,
       .outcome = Outcome::kFails,
       .code = kErrorOpenPartFile,
       .ranges = Times(1 + kRetries, RangeFrom(0)),
       .then_completes = true},
  };
  return rows;
}

// ---- Checks ---------------------------------------------------------------

// Collects what went wrong in one row.
class Verdict {
 public:
  void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
  }
  void Fail(const std::string& what) { reasons_ += (reasons_.empty() ? "" : "; ") + what; }
  bool ok() const { return reasons_.empty(); }
  const std::string& reasons() const { return reasons_; }

 private:
  std::string reasons_;
};

std::string Quoted(const std::string& text) {
  std::string one = text;
  for (char& c : one) {
    if (c == '\n') c = '|';
  }
  return "\"" + one + "\"";
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& i : items) out += (out.empty() ? "" : ", ") + i;
  return "[" + out + "]";
}

// What a download folder holds after a run, against the source.
void CheckFolder(const fs::path& folder, const std::string& source, Outcome outcome,
                 const std::string& when, Verdict* v) {
  const std::vector<std::string> files = FilesBelow(folder);
  if (outcome == Outcome::kComplete) {
    v->Check(files == std::vector<std::string>{kLocal},
             when + ": files " + Joined(files) + " instead of the final file alone");
    v->Check(ReadFile(folder / kLocal) == source, when + ": the final file differs from the source");
    return;
  }
  for (const std::string& f : files) {
    if (f.size() < 4 || f.compare(f.size() - 4, 4, ".tmp") != 0) {
      v->Fail(when + ": " + f + " exists after a failure");
      continue;
    }
    // One part per file: what is on disk is the start of the source.
    const std::string bytes = ReadFile(folder / f);
    v->Check(bytes.size() <= source.size() && source.compare(0, bytes.size(), bytes) == 0,
             when + ": " + f + " (" + std::to_string(bytes.size()) +
                 " bytes) is not the start of the source");
  }
}

std::vector<std::string> GetRanges(const TestServer& server) {
  std::vector<std::string> ranges;
  for (const auto& r : server.Requests()) {
    if (r.method == "GET" && r.path == kFile) ranges.push_back(r.range);
  }
  return ranges;
}

void CheckRanges(const Row& row, const TestServer& server, Verdict* v) {
  if (!row.ranges) return;
  const std::vector<std::string> ranges = GetRanges(server);
  v->Check(ranges == *row.ranges,
           "asked for " + Joined(ranges) + ", expected " + Joined(*row.ranges));
}

// ---- The matrix -----------------------------------------------------------

class FaultMatrixTest : public engine_testing::EngineTest {
 protected:
  FaultMatrixTest() : source_(engine_testing::TestBytes(kSize, 7)) {}

  // Runs one row; empty when it passed, else the reasons.
  std::string RunRow(const Row& row, bool* skipped) {
    switch (row.driver) {
      case Driver::kConsole: return RunConsoleRow(row);
      case Driver::kNamespace: return RunNamespaceRow(row, skipped);
      case Driver::kEngine: return RunEngineRow(row);
    }
    return "unknown driver";
  }

  // -- vespar-console against the test server --

  static std::string Configuration(const std::string& base) {
    return "r\r\n" + base + "\r\nfiles/*.*\r\n\r\n";
  }
  static std::vector<std::string> Args(const std::string& config_url, const fs::path& folder) {
    return {ConsoleBinary(),  "--config-url", config_url, "--folder",
            folder.string(),  "--no-launch",  "--retries", std::to_string(kRetries)};
  }

  std::string RunConsoleRow(const Row& row) {
    TestServer server;
    if (!server.Start()) return "the test server did not start";
    server.AddFile("/vespar.ini", Configuration(server.Url("/")));
    server.AddFolder(kFolder);
    server.AddFile(kFile, source_);
    TempDir temp;
    const fs::path home = temp.path() / "home";
    const fs::path folder = temp.path() / "download";
    fs::create_directories(folder / "files");
    const std::vector<std::string> args = Args(server.Url("/vespar.ini"), folder);
    Verdict v;

    if (row.before != Before::kNothing) {
      StopMidFile(server, args, home, folder, row.before, &v);
      if (!v.ok()) return v.reasons();
    }

    server.ClearFaults();
    server.ClearLog();
    server.SetFault(kFile, row.file_fault);
    server.SetFault(kFolder, row.folder_fault);
    Child run(args, ChildEnvironment(home));
    CheckConsoleRun(row, run.Wait(), run.err(), "run", &v);
    CheckFolder(folder, source_, row.outcome, "after the run", &v);
    CheckRanges(row, server, &v);
    if (row.before == Before::kStoppedRun && row.outcome == Outcome::kFails) {
      // A failed run loses nothing the stopped one saved.
      const std::string part = ReadFile(folder / (std::string(kLocal) + ".tmp"));
      v.Check(part.size() == static_cast<size_t>(kCut),
              "the part file holds " + std::to_string(part.size()) + " bytes, not " +
                  std::to_string(kCut));
    }

    if (row.then_completes) {
      server.ClearFaults();
      Child again(args, ChildEnvironment(home));
      const int status = again.Wait();
      v.Check(status == 0, "the run after the server mended ended with " +
                                std::to_string(status) + ": " + Quoted(again.err()));
      CheckFolder(folder, source_, Outcome::kComplete, "after the server mended", &v);
    }
    return v.reasons();
  }

  // A first run that gets kCut bytes and then silence, stopped or killed once
  // they are on disk. The part file must hold exactly the source's start.
  void StopMidFile(TestServer& server, const std::vector<std::string>& args,
                   const fs::path& home, const fs::path& folder, Before before, Verdict* v) {
    server.SetFault(kFile, CutAfter(kCut, Ending::kStall, 1));
    const fs::path part = folder / (std::string(kLocal) + ".tmp");
    Child first(args, ChildEnvironment(home));
    if (!testing::WaitForFileSize(part.string(), kCut)) {
      v->Fail("the first run never had " + std::to_string(kCut) + " bytes on disk: " +
              Quoted(first.err()));
      return;
    }
    const int signo = before == Before::kStoppedRun ? SIGINT : SIGKILL;
    first.Signal(signo);
    const int status = first.Wait();
    v->Check(status == 128 + signo, "the first run ended with " + std::to_string(status));
    v->Check(ReadFile(part) == source_.substr(0, kCut),
             "the stopped run's part file is not the source's first bytes");
  }

  static void CheckConsoleRun(const Row& row, int status, const std::string& err,
                              const std::string& when, Verdict* v) {
    if (row.outcome == Outcome::kComplete) {
      v->Check(status == 0, when + " ended with " + std::to_string(status) + ": " + Quoted(err));
      return;
    }
    v->Check(status == kExitFailed,
             when + " ended with " + std::to_string(status) + " instead of 1: " + Quoted(err));
    v->Check(err.find(row.message) != std::string::npos,
             when + " said " + Quoted(err) + ", not " + Quoted(row.message));
  }

  // -- vespar-console with its own network --

  std::string RunNamespaceRow(const Row& row, bool* skipped) {
    std::string reasons;
    std::string unavailable;
    // A thread of its own enters the namespace: everything it starts (the
    // server's sockets, dnsmasq, the console) lives there.
    std::thread inside([&] {
      unavailable = testing::EnterPrivateNetwork();
      if (unavailable.empty()) reasons = NamespaceRowBody(row);
    });
    inside.join();
    if (!unavailable.empty()) {
      *skipped = true;
      return unavailable;
    }
    return reasons;
  }

  std::string NamespaceRowBody(const Row& row) {
    // files.test has two addresses: port 80 of 127.0.0.3 refuses connections,
    // 127.0.0.2 serves. The first connection goes where the hosts file says
    // (127.0.0.2); a restart takes the next address of the DNS answer,
    // starting with its first (127.0.0.3).
    testing::TestServerOptions options;
    options.addresses = {{"127.0.0.2", testing::AddressMode::kServe},
                         {"127.0.0.3", testing::AddressMode::kRefuse}};
    options.port = 80;
    TestServer server(options);
    std::string error;
    if (!server.Start(&error)) return "the test server did not start on port 80: " + error;
    server.AddFile("/vespar.ini", Configuration("http://files.test/"));
    server.AddFolder(kFolder);
    server.AddFile(kFile, source_);
    server.SetFault(kFile, row.file_fault);

    TempDir temp;
    testing::NameServer names;
    if (!names.Start({"files.test,127.0.0.3", "files.test,127.0.0.2"}, temp.path().string(),
                     &error))
      return error;
    Verdict v;
    const std::vector<std::string> answer = names.LookUp("files.test");
    v.Check(answer == std::vector<std::string>{"127.0.0.3", "127.0.0.2"},
            "the name server answers " + Joined(answer));
    const fs::path folder = temp.path() / "download";
    fs::create_directories(folder);
    std::vector<std::string> args = Args("http://127.0.0.2/vespar.ini", folder);
    args = names.Wrap(args, {"127.0.0.2 files.test"});
    Child run(args, ChildEnvironment(temp.path() / "home"));
    CheckConsoleRun(row, run.Wait(), run.err(), "run", &v);
    CheckFolder(folder, source_, row.outcome, "after the run", &v);

    // Where each GET went: the host it named, the range, the address that
    // answered.
    std::vector<std::string> gets;
    for (const auto& r : server.Requests()) {
      if (r.method != "GET" || r.path != kFile) continue;
      const std::string authority = r.target.substr(0, r.target.find('/', strlen("http://")));
      gets.push_back(authority + " " + r.range + " at " + r.local_address);
    }
    const std::vector<std::string> expected = {
        "http://files.test " + RangeFrom(0) + " at 127.0.0.2:80",
        "http://127.0.0.2 " + RangeFrom(kCut) + " at 127.0.0.2:80"};
    v.Check(gets == expected, "GETs " + Joined(gets) + ", expected " + Joined(expected));
    return v.reasons();
  }

  // -- The download manager in this process --

  std::string RunEngineRow(const Row& row) {
    TearDown();  // a fresh manager, server and folder for every row
    SetUp();
    timings_.headMs = 1000;
    timings_.receiveMs = 1000;
    PosixFileSystem real;
    FaultInjectingFileSystem disk(&real);
    SetFileSystem(&disk);
    switch (row.disk) {
      case Disk::kFine: break;
      case Disk::kFull: disk.FailWritesAfter(kCut, ENOSPC); break;
      case Disk::kReadOnly:
        disk.FailMakeFolders(EROFS);
        disk.FailOpens(EROFS);
        break;
    }
    // The file lands below "files/", as the console's would.
    FolderLayoutFlag = u"r";
    ContentBaseUrl = FromUtf8(Url("/"));
    server_->AddFile(kFile, source_);
    server_->SetFault(kFile, row.file_fault);
    Verdict v;
    StartManager();
    const Outcome outcome = EngineDownload(&v);
    v.Check(outcome == row.outcome, std::string("the download ") +
                                        (outcome == Outcome::kComplete ? "completed" : "failed"));
    CheckEngineErrors(row, &v);
    CheckFolder(download_dir_, source_, row.outcome, "after the run", &v);
    CheckRanges(row, *server_, &v);

    if (row.then_completes) {
      disk.ClearFaults();
      server_->ClearFaults();
      const size_t from = sink_->size();
      Post(MGRM_RESUME);
      v.Check(Settle(from, 0, &v) == Outcome::kComplete,
              "a resume after the disk mended did not complete");
      CheckFolder(download_dir_, source_, Outcome::kComplete, "after the disk mended", &v);
    }
    manager_->Quit();
    SetFileSystem(nullptr);
    return v.reasons();
  }

  // Probes and starts; the outcome.
  Outcome EngineDownload(Verdict* v) {
    if (ProbeAll({Url(kFile)}) != 0) return Outcome::kFails;
    const size_t from = sink_->size();
    Post(MGRM_START);
    return Settle(from, kRetries, v);
  }

  // Waits for the download to complete or stop, from notification `from`
  // on, resuming after a stop as the console does, up to `resumes` times.
  Outcome Settle(size_t from, int resumes, Verdict* v) {
    for (int resumed = 0;; ++resumed) {
      const int end = sink_->WaitFor(
          [](const Message& m) {
            return m.message == DLGN_ALL_COMPLETE || m.message == DLGN_IDLE;
          },
          from, std::chrono::seconds(30));
      if (end < 0) {
        v->Fail("neither complete nor idle after 30 s");
        return Outcome::kFails;
      }
      if (sink_->at(end).message == DLGN_ALL_COMPLETE) return Outcome::kComplete;
      if (resumed == resumes) return Outcome::kFails;
      from = end + 1;
      Post(MGRM_RESUME);
    }
  }

  void CheckEngineErrors(const Row& row, Verdict* v) {
    const std::vector<Message> errors = Messages(DLGN_ERROR);
    if (row.code == 0) {
      v->Check(errors.empty(), std::to_string(errors.size()) + " errors reported");
      return;
    }
    if (errors.empty()) {
      v->Fail("no error reported");
      return;
    }
    v->Check(errors[0].lParam == row.code, "error " + std::to_string(errors[0].lParam) +
                                               " instead of " + std::to_string(row.code));
    if (row.write_error != 0) {
      const int written = PartOf(errors[0])->writeError.load();
      v->Check(written == row.write_error,
               "write error " + std::to_string(written) + " instead of " +
                   std::to_string(row.write_error));
    }
  }

  const std::string source_;
};

TEST_F(FaultMatrixTest, EveryRow) {
  int passed = 0;
  int failed = 0;
  for (const Row& row : Rows()) {
    bool skipped = false;
    const std::string reasons = RunRow(row, &skipped);
    if (skipped) {
      std::printf("SKIP %s: %s\n", row.name, reasons.c_str());
    } else if (reasons.empty()) {
      ++passed;
      std::printf("PASS %s\n", row.name);
    } else {
      ++failed;
      std::printf("FAIL %s: %s\n", row.name, reasons.c_str());
    }
    std::fflush(stdout);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  std::fflush(stdout);
  EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace vespar
