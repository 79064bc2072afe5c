#pragma once

// Command-line flags of the terminal front end.

#include <optional>
#include <string>
#include <vector>

namespace vespar {

enum class OverwriteAnswer { kAsk, kYes, kNo };

struct ConsoleOptions {
  std::string configUrl;  // --config-url; empty: environment, then built in
  std::string folder;     // --folder; empty: the resume file's, else the default
  OverwriteAnswer overwrite = OverwriteAnswer::kAsk;  // --overwrite yes|no
  bool noLaunch = false;              // --no-launch
  std::optional<int> parts;           // --parts N (1 to 5)
  std::optional<int> extraParts;      // --extra-parts N (0 to 5)
  std::optional<int> retries;         // --retries N (0 or more)
  bool list = false;                  // --list
  bool help = false;                  // --help
};

// Parses the arguments after the program name. "--flag value" and
// "--flag=value" both work. False with a one-line reason in *error for an
// unknown flag, a missing or bad value, or a stray argument.
bool ParseConsoleOptions(const std::vector<std::string>& args, ConsoleOptions* options,
                         std::string* error);

// The --help text, one flag a line.
std::string ConsoleUsage();

}  // namespace vespar
