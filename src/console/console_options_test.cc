#include "src/console/console_options.h"

#include <gtest/gtest.h>

namespace vespar {
namespace {

std::string Describe(const ConsoleOptions& o) {
  auto number = [](const std::optional<int>& v) { return v ? std::to_string(*v) : "-"; };
  const char* overwrite = o.overwrite == OverwriteAnswer::kYes  ? "yes"
                          : o.overwrite == OverwriteAnswer::kNo ? "no"
                                                                : "ask";
  return "url=" + o.configUrl + " folder=" + o.folder + " overwrite=" + overwrite +
         " nolaunch=" + std::to_string(o.noLaunch) + " parts=" + number(o.parts) +
         " extra=" + number(o.extraParts) + " retries=" + number(o.retries) +
         " list=" + std::to_string(o.list) + " help=" + std::to_string(o.help);
}

TEST(ConsoleOptionsTest, ParsesEveryFlag) {
  static const struct {
    std::vector<std::string> args;
    const char* parsed;
  } kCases[] = {
      {{}, "url= folder= overwrite=ask nolaunch=0 parts=- extra=- retries=- list=0 help=0"},
      {{"--list", "--config-url", "http://h:81/vespar.ini"},
       "url=http://h:81/vespar.ini folder= overwrite=ask nolaunch=0 parts=- extra=- retries=- "
       "list=1 help=0"},
      {{"--config-url=http://h/a=b.ini", "--folder=/tmp/x y", "--overwrite=yes", "--no-launch"},
       "url=http://h/a=b.ini folder=/tmp/x y overwrite=yes nolaunch=1 parts=- extra=- retries=- "
       "list=0 help=0"},
      {{"--parts", "5", "--extra-parts", "0", "--retries=3", "--overwrite", "no"},
       "url= folder= overwrite=no nolaunch=0 parts=5 extra=0 retries=3 list=0 help=0"},
      {{"--help"}, "url= folder= overwrite=ask nolaunch=0 parts=- extra=- retries=- list=0 help=1"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.parsed);
    ConsoleOptions options;
    std::string error;
    ASSERT_TRUE(ParseConsoleOptions(c.args, &options, &error)) << error;
    EXPECT_EQ(Describe(options), c.parsed);
  }
}

TEST(ConsoleOptionsTest, RefusesBadArguments) {
  static const struct {
    std::vector<std::string> args;
    const char* error;
  } kCases[] = {
      {{"--bogus"}, "unknown argument \"--bogus\""},
      {{"list"}, "unknown argument \"list\""},
      {{"--config-url"}, "--config-url needs a value"},
      {{"--folder="}, "--folder needs a value"},
      {{"--overwrite", "maybe"}, "--overwrite takes yes or no, not \"maybe\""},
      {{"--parts", "0"}, "--parts takes a number from 1 to 5, not \"0\""},
      {{"--parts", "6"}, "--parts takes a number from 1 to 5, not \"6\""},
      {{"--extra-parts", "2x"}, "--extra-parts takes a number from 0 to 5, not \"2x\""},
      {{"--retries", "-1"}, "--retries takes a number from 0 to 1000, not \"-1\""},
      {{"--list=yes"}, "--list takes no value"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.error);
    ConsoleOptions options;
    options.list = true;
    std::string error;
    EXPECT_FALSE(ParseConsoleOptions(c.args, &options, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(options.list);  // left as it was
  }
}

TEST(ConsoleOptionsTest, UsageNamesEveryFlag) {
  std::string usage = ConsoleUsage();
  for (const char* flag : {"--config-url URL", "--folder DIR", "--overwrite yes|no", "--no-launch",
                           "--parts N", "--extra-parts N", "--retries N", "--list", "--help"}) {
    EXPECT_NE(usage.find(flag), std::string::npos) << flag;
  }
}

}  // namespace
}  // namespace vespar
