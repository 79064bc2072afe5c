#include "src/console/console_window.h"

#include <gtest/gtest.h>

namespace vespar {
namespace {

TEST(ResumeDelayTest, DoublesFromOneSecondUpToThirty) {
  static const struct {
    int attempt;
    int64_t ms;
  } kCases[] = {
      {1, 1000}, {2, 2000}, {3, 4000}, {4, 8000}, {5, 16000}, {6, 30000}, {7, 30000},
      {1000, 30000},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.attempt);
    EXPECT_EQ(ResumeDelay(c.attempt).count(), c.ms);
  }
}

}  // namespace
}  // namespace vespar
