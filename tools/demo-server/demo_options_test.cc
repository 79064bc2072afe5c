#include "tools/demo-server/demo_options.h"

#include <gtest/gtest.h>

namespace vespar::demo {
namespace {

TEST(DemoOptionsTest, FlagsAndBadValues) {
  static const struct {
    std::vector<std::string> args;
    bool ok;
    uint16_t port;
    int64_t rate;
    double scale;
  } kCases[] = {
      {{}, true, 0, 0, 1.0},
      {{"--port", "8080", "--rate", "1000"}, true, 8080, 1000, 1.0},
      {{"--port=9", "--size-scale=2.5"}, true, 9, 0, 2.5},
      {{"--port", "65536"}, false, 0, 0, 1.0},
      {{"--port", "-1"}, false, 0, 0, 1.0},
      {{"--port", "80x"}, false, 0, 0, 1.0},
      {{"--port"}, false, 0, 0, 1.0},
      {{"--size-scale", "0"}, false, 0, 0, 1.0},
      {{"--size-scale", "nan"}, false, 0, 0, 1.0},
      {{"--rate", "-5"}, false, 0, 0, 1.0},
      {{"--host", "example.org"}, false, 0, 0, 1.0},
      {{"--verbose=1"}, false, 0, 0, 1.0},
      {{"--bogus"}, false, 0, 0, 1.0},
  };
  for (const auto& c : kCases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    DemoServerOptions options;
    std::string error;
    EXPECT_EQ(ParseDemoServerArgs(c.args, &options, &error), c.ok);
    if (c.ok) {
      EXPECT_EQ(options.port, c.port);
      EXPECT_EQ(options.rate_bytes_per_second, c.rate);
      EXPECT_EQ(options.size_scale, c.scale);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

}  // namespace
}  // namespace vespar::demo
