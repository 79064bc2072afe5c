// The contents script as the server sends it (wire code page): its two
// statements, the content list it names and the program it would start.

#include <cstdint>
#include <string>
#include <string_view>

#include "src/bootstrap/contents_script.h"
#include "src/bootstrap/download_list.h"
#include "src/platform/code_page.h"
#include "tests/fuzz/fuzz_bootstrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vespar;
  InstallFuzzPrompt();
  std::u16string text = FromWire(FuzzBytes(data, size));
  ContentsScript script;
  script.contentsUrl = u"untouched";
  int result = ParseContentsScript(text, &script);
  if (result != kScriptOk) {
    FUZZ_CHECK(result == kScriptSyntaxError);
    FUZZ_CHECK(script.contentsUrl == u"untouched" && script.executable.empty());
    return 0;
  }
  FUZZ_CHECK(script.contentsUrl.find(u'"') == std::u16string::npos);
  FUZZ_CHECK(script.executable.find(u'"') == std::u16string::npos);
  FUZZ_CHECK(text.find(u"ZEDaruduzedo_ContentsURL") < text.find(u"ZEDaruduzedo_ExcuteFile"));

  // What the script step does with it once fetched, short of the network.
  if (IsSafeRelativePath(script.executable) && !ListCrawls(script.contentsUrl)) {
    ResetBootstrapGlobalsForTesting();
    if (BuildDownloadList(script.contentsUrl) == 0) CheckDownloadList();
    ResetBootstrapGlobalsForTesting();
  }
  return 0;
}
