// vespar-console: the terminal front end.

#include <cstdio>
#include <string>
#include <vector>

#include "src/app/mini_dump.h"
#include "src/console/console_options.h"
#include "src/console/console_window.h"
#include "src/console/download_mode.h"
#include "src/console/list_mode.h"
#include "src/net/connection.h"
#include "src/platform/paths.h"
#include "src/platform/prompt.h"

namespace {

constexpr int kUsageError = vespar::kExitUsage;

// Step 1: from here on a crash anywhere in the process leaves a report.
vespar::CMiniDump& CrashReport() {
  static vespar::CMiniDump dump;
  return dump;
}

vespar::TerminalPrompt::Fixed FixedAnswer(vespar::OverwriteAnswer answer) {
  switch (answer) {
    case vespar::OverwriteAnswer::kYes: return vespar::TerminalPrompt::Fixed::kYes;
    case vespar::OverwriteAnswer::kNo: return vespar::TerminalPrompt::Fixed::kNo;
    case vespar::OverwriteAnswer::kAsk: break;
  }
  return vespar::TerminalPrompt::Fixed::kNone;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dump_path = vespar::WritableProgramFolder() + "/RiVizaVudiduve.dmp";
  CrashReport().SetDumpPath(dump_path.c_str());
  CrashReport().Install(nullptr);

  std::vector<std::string> args(argv + 1, argv + argc);
  vespar::ConsoleOptions options;
  std::string error;
  if (!vespar::ParseConsoleOptions(args, &options, &error)) {
    std::fprintf(stderr, "vespar-console: %s (see --help)\n", error.c_str());
    return kUsageError;
  }
  if (options.help) {
    std::fputs(vespar::ConsoleUsage().c_str(), stdout);
    return 0;
  }

  vespar::IgnoreSigpipe();
  // Every message box becomes one line on standard error.
  vespar::TerminalPrompt prompt(FixedAnswer(options.overwrite));
  vespar::SetPrompt(&prompt);
  int status = kUsageError;
  if (options.list) {
    status = vespar::RunListMode(options, stdout);
  } else {
    status = vespar::RunDownloadMode(options);
  }
  vespar::SetPrompt(nullptr);
  return status;
}
