#include "src/console/stop_signals.h"

#include <errno.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace vespar {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

std::atomic<int> g_received{0};
std::atomic<int> g_fd{-1};
struct sigaction g_previous[2];

void OnStopSignal(int signo) {
  int expected = 0;
  if (!g_received.compare_exchange_strong(expected, signo)) {
    // Asked twice: stop waiting for the orderly end.
    signal(signo, SIG_DFL);
    raise(signo);
    return;
  }
  const int saved = errno;
  uint64_t one = 1;
  ssize_t ignored = write(g_fd.load(), &one, sizeof one);
  (void)ignored;
  errno = saved;
}

}  // namespace

bool StopSignals::Install() {
  if (installed_ || g_fd.load() >= 0) return false;
  fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) return false;
  g_received = 0;
  g_fd = fd_;
  struct sigaction action = {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 2; ++i) {
    if (sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
      for (int k = 0; k < i; ++k) sigaction(kSignals[k], &g_previous[k], nullptr);
      g_fd = -1;
      close(fd_);
      fd_ = -1;
      return false;
    }
  }
  installed_ = true;
  return true;
}

StopSignals::~StopSignals() {
  if (installed_) {
    for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    g_fd = -1;
  }
  if (fd_ >= 0) close(fd_);
}

int StopSignals::received() const { return installed_ ? g_received.load() : 0; }

}  // namespace vespar
