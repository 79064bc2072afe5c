// The configuration file as the server sends it (wire code page), through the
// start-up descriptor to the download list and the launch file name.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "src/bootstrap/configuration.h"
#include "src/platform/code_page.h"
#include "tests/fuzz/fuzz_bootstrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vespar;
  InstallFuzzPrompt();
  std::u16string text = FromWire(FuzzBytes(data, size));
  std::string tail = ParseConfiguration(text);
  FUZZ_CHECK(!tail.empty() && tail[0] == '|');

  std::u16string descriptor = std::u16string(kBuiltInDescriptor) + FromWire(tail);
  std::vector<std::u16string> fields = SplitStartupDescriptor(descriptor);
  FUZZ_CHECK(fields.size() >= 2 && fields[0] == u"KOR_0001" &&
             fields[1] == u"ResourceDLL_kor");
  for (const std::u16string& field : fields)
    FUZZ_CHECK(!field.empty() && field.find(u'|') == std::u16string::npos);

  if ((fields.size() == 4 || fields.size() == 5) && !ListCrawls(fields[3])) {
    ResetBootstrapGlobalsForTesting();
    if (ApplyStartupDescriptor(descriptor) == 0) {
      CheckDownloadList();
      FUZZ_CHECK(IsSafeRelativePath(LaunchFileName));
      FUZZ_CHECK(FolderLayoutFlag == fields[2]);
    }
    ResetBootstrapGlobalsForTesting();
  }
  return 0;
}
