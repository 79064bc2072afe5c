#pragma once

// --list: runs start-up up to the download list and prints every entry's
// full URL, one a line.

#include <cstdio>

#include "src/bootstrap/bootstrap_options.h"
#include "src/console/console_options.h"

namespace vespar {

// Exit status of the list mode.
enum ListModeExit { kListOk = 0, kListStartupFailed = 1 };

// Sets ConfigurationUrl from the options and the environment, runs the
// shared start-up and writes the URLs (UTF-8) to `out`. Messages go through
// the installed prompt.
int RunListMode(const ConsoleOptions& options, std::FILE* out,
                const BootstrapOptions& bootstrap = {});

}  // namespace vespar
