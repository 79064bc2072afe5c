#include "src/console/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vespar {
namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 10000) == 1 && (p.revents & POLLIN);
}

TEST(StopSignalsTest, SignalWakesTheDescriptorAndIsRemembered) {
  static const int kCases[] = {SIGTERM, SIGINT};
  for (int signo : kCases) {
    SCOPED_TRACE(signo);
    StopSignals stop;
    ASSERT_TRUE(stop.Install());
    EXPECT_EQ(stop.received(), 0);
    pollfd p{stop.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    ASSERT_EQ(raise(signo), 0);
    EXPECT_TRUE(Readable(stop.fd()));
    EXPECT_EQ(stop.received(), signo);
  }
}

TEST(StopSignalsTest, OnlyOneInstanceAndHandlersPutBack) {
  struct sigaction before = {};
  sigaction(SIGTERM, nullptr, &before);
  {
    StopSignals first;
    ASSERT_TRUE(first.Install());
    StopSignals second;
    EXPECT_FALSE(second.Install());
  }
  struct sigaction after = {};
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  StopSignals again;
  EXPECT_TRUE(again.Install());
}

TEST(StopSignalsTest, SecondSignalEndsTheProcessAtOnce) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StopSignals stop;
    if (!stop.Install()) _exit(10);
    raise(SIGINT);  // noted
    if (stop.received() != SIGINT) _exit(11);
    raise(SIGINT);  // ends the process
    _exit(12);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGINT);
}

}  // namespace
}  // namespace vespar
