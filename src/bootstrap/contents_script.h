#pragma once

// The optional contents script: a text fetched from ScriptUrl that names a
// further content list URL and the program to run at the end, as two
// statements in this order:
//   ZEDaruduzedo_ContentsURL = "<url>";  ZEDaruduzedo_ExcuteFile = "<name>";
// Anything else in the text is ignored. ScriptUrl "none" switches the step off.

#include <string>
#include <string_view>

#include "src/bootstrap/bootstrap_options.h"

namespace vespar {

enum ScriptResult {
  kScriptOk = 0,
  kScriptConnectTimedOut = 3,
  kScriptConnectFailed = 4,
  kScriptCannotResolve = 8,
  kScriptCannotOpenClient = 13,
  kScriptCannotOpenUrl = 14,
  kScriptSyntaxError = 15,
  kScriptBadStatus = 16,
};

struct ContentsScript {
  std::u16string contentsUrl;
  std::u16string executable;
};

// Passive. kScriptOk with *out filled, or kScriptSyntaxError when a key, ";"
// or quote is missing, or the executable statement comes first.
int ParseContentsScript(std::u16string_view text, ContentsScript* out);

// The text left in ScriptErrorText for a non-zero result (`status` is the
// answer's status for kScriptBadStatus).
std::u16string ScriptErrorMessage(int result, int status);

// Probes the script's server, fetches the script (agent "HTTP"), builds the
// download list from its contents URL (that list's own failures are shown
// but do not change the result) and stores its executable, when not empty,
// as LaunchFileName. Sets ScriptErrorText for any non-zero result. An
// executable path that would leave the download folder is a syntax error.
int RunContentsScript(const BootstrapOptions& options = {});

}  // namespace vespar
