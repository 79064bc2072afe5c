#include "src/console/list_mode.h"

#include "src/app/startup.h"
#include "src/bootstrap/globals.h"
#include "src/platform/code_page.h"

namespace vespar {

int RunListMode(const ConsoleOptions& options, std::FILE* out,
                const BootstrapOptions& bootstrap) {
  ConfigurationUrl = ChooseConfigurationUrl(FromUtf8(options.configUrl));
  StartupResult result = RunStartup(bootstrap);
  if (result.outcome != StartupOutcome::kReady) return kListStartupFailed;
  for (size_t i = 0; i < DownloadNames.size(); ++i) {
    std::string line = ToUtf8(DownloadEntryUrl(i)) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
  }
  return std::fflush(out) == 0 ? kListOk : kListStartupFailed;
}

}  // namespace vespar
