#pragma once

// The crash report. When the process fails with a fatal signal (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT) the failing thread writes a small text
// report to the dump path, replacing an older one:
//
//   signal 11 (SIGSEGV) code 1
//   address 0x0000000000000000      (si_addr)
//   pc 0x...                        (where the thread stopped)
//   thread 1234 (name)              (the failing thread's id)
//   process 1230
//   backtrace                        (return addresses, innermost first)
//   modules                          (a copy of /proc/self/maps)
//
// Then the signal goes on to the handler that was installed before, so the
// process dies by the signal as it would have (core dump included).
//
// The handler runs on an alternate signal stack, so even a stack overflow is
// reported. Install gives one to the thread that calls it; any other thread
// gets its own by calling CMiniDump::PrepareThread() when it starts (without
// one, a crash on that thread is still reported, on its own stack, unless the
// stack itself overflowed).
//
// Everything the handler does is async-signal-safe: open, write, read,
// fsync, close, sigaction, tgkill; no allocation, no stdio. backtrace() is
// called once at Install so that its unwinder library is loaded before any
// crash.

#include <signal.h>

#include <climits>

namespace vespar {

class CMiniDump {
 public:
  // Called in the failing thread after the report is written, from inside
  // the signal handler: async-signal-safe code only. The previous handler
  // runs after it.
  using ChainedFilter = void (*)(int signo, siginfo_t* info, void* context);

  // `path` may be null: no report is written until one is set.
  explicit CMiniDump(const char* path = nullptr);
  // Puts back the handlers Install replaced (those still ours).
  virtual ~CMiniDump();
  CMiniDump(const CMiniDump&) = delete;
  CMiniDump& operator=(const CMiniDump&) = delete;

  // Replaces the report path. A null path, or one longer than PATH_MAX - 1
  // bytes, leaves it as it was. Set it before other threads run.
  void SetDumpPath(const char* path);
  const char* dumpPath() const { return path_; }

  // Installs the handlers, keeping the ones they replace, and remembers
  // `chained` (may be null). Calling it again only replaces `chained`. False
  // when another CMiniDump is installed, or a handler cannot be set (then
  // nothing stays installed).
  bool Install(ChainedFilter chained);

  // Gives the calling thread an alternate signal stack of its own, freed when
  // the thread ends. Does nothing when the thread already has one. False when
  // none could be set up.
  static bool PrepareThread();

 private:
  static void OnFatalSignal(int signo, siginfo_t* info, void* context);
  void WriteReport(int signo, const siginfo_t* info, const void* context) const;
  void RestorePrevious(int signo) const;

  char path_[PATH_MAX] = {};
  ChainedFilter chained_ = nullptr;
  bool installed_ = false;
  struct sigaction previous_[5] = {};
};

}  // namespace vespar
