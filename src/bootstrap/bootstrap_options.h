#pragma once

// Time-outs and hooks of the bootstrap's network steps. The defaults are what
// the program runs with; tests shorten the time-outs.

#include <functional>

namespace vespar {

struct BootstrapOptions {
  int connectTimeoutMs = 10000;  // every connection the bootstrap opens
  // Folder crawl: a listing that sends nothing for this long fails with
  // "Recv failed - folder download".
  int receiveTimeoutMs = 30000;
  // Configuration and script fetches: no byte for this long fails them.
  int stallTimeoutS = 30;
  // Resolves the language module once the download list is built; false
  // stops start-up (it has shown its own message). Unset: nothing to resolve.
  std::function<bool()> resolveLanguage;
};

}  // namespace vespar
