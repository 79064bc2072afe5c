#include "src/app/mini_dump.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "src/platform/thread_start.h"

namespace vespar {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
constexpr int kMaxFrames = 64;
constexpr size_t kAltStackSize = 64 * 1024;

// The one installed writer; read by the handler.
std::atomic<CMiniDump*> g_active{nullptr};
// Thread id of the thread writing a report (0: none); a second failing
// thread waits for the first instead of writing over its report.
std::atomic<pid_t> g_handling{0};
std::atomic<bool> g_reported{false};

int IndexOf(int signo) {
  for (int i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signo) return i;
  }
  return -1;
}

const char* SignalName(int signo) {
  switch (signo) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "?";
  }
}

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Output without allocation: a fixed buffer flushed with write().
class SafeWriter {
 public:
  explicit SafeWriter(int fd) : fd_(fd) {}
  ~SafeWriter() { Flush(); }

  SafeWriter& Text(const char* s) {
    while (*s) Char(*s++);
    return *this;
  }
  SafeWriter& Bytes(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) Char(s[i]);
    return *this;
  }
  SafeWriter& Decimal(int64_t value) {
    char digits[24];
    int n = 0;
    uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value)
                           : static_cast<uint64_t>(value);
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (value < 0) Char('-');
    while (n > 0) Char(digits[--n]);
    return *this;
  }
  SafeWriter& Hex(uint64_t value) {
    Text("0x");
    for (int shift = 60; shift >= 0; shift -= 4) {
      Char("0123456789abcdef"[(value >> shift) & 0xF]);
    }
    return *this;
  }
  void Flush() {
    size_t done = 0;
    while (done < used_) {
      ssize_t n = ::write(fd_, buffer_ + done, used_ - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // nothing more can be reported
      done += static_cast<size_t>(n);
    }
    used_ = 0;
  }

 private:
  void Char(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
  }

  int fd_;
  char buffer_[1024];
  size_t used_ = 0;
};

// Copies a small /proc file into the report.
void CopyFile(const char* path, SafeWriter& out, bool stopAtNewline) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (stopAtNewline) {
      const void* nl = std::memchr(buffer, '\n', static_cast<size_t>(n));
      if (nl) n = static_cast<const char*>(nl) - buffer;
      out.Bytes(buffer, static_cast<size_t>(n));
      break;
    }
    out.Bytes(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
}

uint64_t ProgramCounter(const void* context) {
  if (context == nullptr) return 0;
  const ucontext_t* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<uint64_t>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return 0;
#endif
}

// The alternate signal stack this thread allocated; released at thread exit.
struct ThreadAltStack {
  void* memory = nullptr;
  ~ThreadAltStack() {
    if (memory == nullptr) return;
    stack_t current;
    if (::sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory &&
        !(current.ss_flags & SS_ONSTACK)) {
      stack_t off = {};
      off.ss_flags = SS_DISABLE;
      ::sigaltstack(&off, nullptr);
      ::munmap(memory, kAltStackSize);
    }
    // Still in use, or replaced by someone else: left to the process's end.
  }
};
thread_local ThreadAltStack t_altStack;

}  // namespace

CMiniDump::CMiniDump(const char* path) { SetDumpPath(path); }

CMiniDump::~CMiniDump() {
  if (!installed_) return;
  SetThreadStartHook(nullptr);
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction current;
    if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
    // A handler installed after ours stays where it is.
    if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == &OnFatalSignal) {
      ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
  }
  installed_ = false;
  CMiniDump* self = this;
  g_active.compare_exchange_strong(self, nullptr);
}

void CMiniDump::SetDumpPath(const char* path) {
  if (path == nullptr) return;
  size_t length = std::strlen(path);
  if (length >= sizeof path_) return;
  std::memcpy(path_, path, length + 1);
}

bool CMiniDump::PrepareThread() {
  stack_t current;
  if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
    return true;  // one is set already (ours or another component's)
  void* memory = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return false;
  stack_t stack = {};
  stack.ss_sp = memory;
  stack.ss_size = kAltStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) {
    ::munmap(memory, kAltStackSize);
    return false;
  }
  t_altStack.memory = memory;
  return true;
}

bool CMiniDump::Install(ChainedFilter chained) {
  if (installed_) {
    chained_ = chained;
    return true;
  }
  CMiniDump* expected = nullptr;
  if (!g_active.compare_exchange_strong(expected, this)) return false;
  chained_ = chained;

  // Loads the unwinder now: its first use allocates, which a crash must not.
  void* frames[2];
  ::backtrace(frames, 2);
  PrepareThread();

  struct sigaction action = {};
  action.sa_sigaction = &OnFatalSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) {
    if (::sigaction(kSignals[i], &action, &previous_[i]) != 0) {
      for (int j = 0; j < i; ++j) ::sigaction(kSignals[j], &previous_[j], nullptr);
      g_active = nullptr;
      return false;
    }
  }
  installed_ = true;
  // Threads the program starts from now on get their alternate stack too.
  SetThreadStartHook(&CMiniDump::PrepareThread);
  return true;
}

void CMiniDump::RestorePrevious(int signo) const {
  int i = IndexOf(signo);
  if (i >= 0) ::sigaction(signo, &previous_[i], nullptr);
}

void CMiniDump::WriteReport(int signo, const siginfo_t* info,
                            const void* context) const {
  if (path_[0] == '\0') return;
  int fd = ::open(path_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  {
    SafeWriter out(fd);
    out.Text("Vespar Downloader crash report\n");
    out.Text("signal ").Decimal(signo).Text(" (").Text(SignalName(signo)).Text(")");
    if (info) out.Text(" code ").Decimal(info->si_code);
    out.Text("\naddress ").Hex(info ? reinterpret_cast<uintptr_t>(info->si_addr) : 0);
    out.Text("\npc ").Hex(ProgramCounter(context));
    out.Text("\nthread ").Decimal(CurrentThreadId()).Text(" (");
    CopyFile("/proc/thread-self/comm", out, true);
    out.Text(")\nprocess ").Decimal(::getpid());
    struct timespec now;
    if (::clock_gettime(CLOCK_REALTIME, &now) == 0) {
      out.Text("\ntime ").Decimal(now.tv_sec);
    }
    out.Text("\nbacktrace\n");
    void* frames[kMaxFrames];
    int count = ::backtrace(frames, kMaxFrames);
    for (int i = 0; i < count; ++i) {
      out.Text("  ").Hex(reinterpret_cast<uintptr_t>(frames[i])).Text("\n");
    }
    out.Text("modules\n");
    out.Flush();
    CopyFile("/proc/self/maps", out, false);
  }
  ::fsync(fd);
  ::close(fd);
}

void CMiniDump::OnFatalSignal(int signo, siginfo_t* info, void* context) {
  int savedErrno = errno;
  pid_t self = CurrentThreadId();
  pid_t expected = 0;
  bool first = g_handling.compare_exchange_strong(expected, self);
  if (!first && expected == self) {
    // A fault inside this handler: die by the default action at once.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signo, &fallback, nullptr);
    ::syscall(SYS_tgkill, ::getpid(), self, signo);
    return;
  }
  if (!first) {
    // Another thread is writing the report and will end the process; should
    // it not, go on after it without writing over its report.
    while (g_handling.load() != 0) {
      struct timespec pause = {0, 10 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
  }

  CMiniDump* dump = g_active.load();
  if (dump != nullptr) {
    if (!g_reported.exchange(true)) {
      dump->WriteReport(signo, info, context);
      if (dump->chained_) dump->chained_(signo, info, context);
    }
    dump->RestorePrevious(signo);
  } else {
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signo, &fallback, nullptr);
  }
  if (first) g_handling = 0;

  // A fault raised by the hardware happens again when this handler returns,
  // now under the previous handler, with its true details. A signal that was
  // sent (abort, kill) is sent again; it stays pending until we return.
  if (info == nullptr || info->si_code <= 0 || signo == SIGABRT) {
    ::syscall(SYS_tgkill, ::getpid(), self, signo);
  }
  errno = savedErrno;
}

}  // namespace vespar
