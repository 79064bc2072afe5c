#pragma once

// The console's download: the shared start-up, the single-instance lock, the
// manager thread with the console as its window, the contents script, the
// download list handed to the engine, then the console's message loop until
// everything is complete, a failure ends the run, or a stop signal arrives.

#include "src/console/console_options.h"

namespace vespar {

// Returns the exit status (ConsoleExit, or 128 + a stop signal's number).
// Messages go through the installed prompt; progress to standard output.
int RunDownloadMode(const ConsoleOptions& options);

}  // namespace vespar
