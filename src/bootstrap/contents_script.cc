#include "src/bootstrap/contents_script.h"

#include "src/bootstrap/download_list.h"
#include "src/bootstrap/globals.h"
#include "src/platform/safe_names.h"
#include "src/net/connection.h"
#include "src/platform/code_page.h"
#include "src/platform/http_client.h"

namespace vespar {
namespace {

constexpr auto npos = std::u16string_view::npos;

// The quoted value of the statement that starts at `key` and ends at `end`
// (its ";"): the "=", and both quotes must lie at or before `end`.
bool StatementValue(std::u16string_view text, size_t key, size_t end, std::u16string* value) {
  size_t equals = text.find(u'=', key);
  if (equals == npos || equals > end) return false;
  size_t open = text.find(u'"', equals);
  if (open == npos || open > end) return false;
  size_t close = text.find(u'"', open + 1);
  if (close == npos || close > end) return false;
  *value = text.substr(open + 1, close - open - 1);
  return true;
}

}  // namespace

int ParseContentsScript(std::u16string_view text, ContentsScript* out) {
  size_t k1 = text.find(u"ZEDaruduzedo_ContentsURL");
  size_t e1 = k1 == npos ? npos : text.find(u';', k1);
  size_t k2 = text.find(u"ZEDaruduzedo_ExcuteFile");
  size_t e2 = k2 == npos ? npos : text.find(u';', k2);
  if (k1 == npos || e1 == npos || k2 == npos || e2 == npos || e1 > k2) {
    return kScriptSyntaxError;
  }
  ContentsScript script;
  if (!StatementValue(text, k1, e1, &script.contentsUrl) ||
      !StatementValue(text, k2, e2, &script.executable)) {
    return kScriptSyntaxError;
  }
  *out = std::move(script);
  return kScriptOk;
}

std::u16string ScriptErrorMessage(int result, int status) {
  switch (result) {
    case kScriptCannotResolve: return u"Script : Can not resolve domain name!";
    case kScriptConnectTimedOut:
    case kScriptConnectFailed: return u"Script : Time out!";
    case kScriptCannotOpenClient: return u"Script : Can not open ie component!";
    case kScriptCannotOpenUrl: return u"Script : Can not open URL!";
    case kScriptSyntaxError: return u"Script Error!";
    case kScriptBadStatus:
      return u"Script : Error Code Number " + FromUtf8(std::to_string(status));
    default: return {};
  }
}

int RunContentsScript(const BootstrapOptions& options) {
  if (ScriptUrl == u"none") return kScriptOk;

  int status = 0;
  auto fail = [&status](int result) {
    ScriptErrorText = ScriptErrorMessage(result, status);
    return result;
  };

  const std::string url = ToWire(ScriptUrl);
  int probe = ProbeServer(url);
  if (probe != 0) return fail(probe);

  HttpGetRequest request;
  request.url = url;
  request.agent = "HTTP";
  request.connectTimeoutMs = options.connectTimeoutMs;
  request.stallTimeoutS = options.stallTimeoutS;
  std::string body;
  HttpGetResult got = HttpGet(request, [&body](std::string_view block) { body += block; });
  if (got.error == kHttpInitFailed) return fail(kScriptCannotOpenClient);
  if (got.error != 0) return fail(kScriptCannotOpenUrl);
  if (got.status != 200) {
    status = got.status;
    return fail(kScriptBadStatus);
  }

  ContentsScript script;
  if (ParseContentsScript(FromWire(body), &script) != kScriptOk ||
      !IsSafeRelativePath(script.executable)) {
    return fail(kScriptSyntaxError);
  }
  BuildDownloadList(script.contentsUrl, options);
  if (!script.executable.empty()) LaunchFileName = script.executable;
  return kScriptOk;
}

}  // namespace vespar
