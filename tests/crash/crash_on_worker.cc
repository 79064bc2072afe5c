// Crashes on a worker thread with the crash report installed, the way the
// downloader would. Usage: crash_on_worker REPORT_PATH [segv|abort|overflow|chained]
// Prints the worker's thread id on standard output before it crashes.

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "src/app/mini_dump.h"

namespace {

vespar::CMiniDump g_dump;

void SayChained(int, siginfo_t*, void*) {
  static const char kText[] = "chained filter ran\n";
  (void)!::write(STDOUT_FILENO, kText, sizeof kText - 1);
}

// Deep enough recursion to run off the end of any thread stack.
// The depth limit is far beyond any stack; it only keeps the recursion finite.
__attribute__((noinline)) int Recurse(volatile char* previous, long depth) {
  volatile char frame[4096];
  frame[0] = previous ? previous[0] : 1;
  if (depth > 1000000000L) return frame[0];
  return Recurse(frame, depth + 1) + frame[1];
}

// The address is read at run time, so an optimising build cannot see the
// null store and drop it: it reaches the hardware as a real fault.
volatile uintptr_t g_nowhere = 0;

// Hidden from the undefined-behaviour sanitizer for the same reason.
__attribute__((noinline, no_sanitize("undefined"))) void StoreToNull() {
  *reinterpret_cast<volatile int*>(g_nowhere) = 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s REPORT_PATH [segv|abort|overflow|chained]\n", argv[0]);
    return 2;
  }
  const char* mode = argc > 2 ? argv[2] : "segv";
  g_dump.SetDumpPath(argv[1]);
  if (!g_dump.Install(std::strcmp(mode, "chained") == 0 ? &SayChained : nullptr)) {
    std::fprintf(stderr, "cannot install the crash report\n");
    return 3;
  }
  std::thread worker([mode] {
    vespar::CMiniDump::PrepareThread();
    std::printf("%ld\n", static_cast<long>(::syscall(SYS_gettid)));
    std::fflush(stdout);
    if (std::strcmp(mode, "abort") == 0) std::abort();
    if (std::strcmp(mode, "overflow") == 0) Recurse(nullptr, 0);
    StoreToNull();
  });
  worker.join();
  return 0;
}
