#include "src/app/startup.h"

#include <cstdlib>

#include "src/app/language_module.h"
#include "src/bootstrap/configuration.h"
#include "src/bootstrap/contents_script.h"
#include "src/bootstrap/globals.h"
#include "src/bootstrap/string_table.h"
#include "src/platform/code_page.h"
#include "src/platform/prompt.h"

#ifndef VESPAR_DEFAULT_CONFIG_URL
#define VESPAR_DEFAULT_CONFIG_URL "http://127.0.0.1:8080/vespar.ini"
#endif

namespace vespar {

std::u16string BuiltInConfigurationUrl() { return FromUtf8(VESPAR_DEFAULT_CONFIG_URL); }

std::u16string ChooseConfigurationUrl(std::u16string_view override_url) {
  if (!override_url.empty()) return std::u16string(override_url);
  const char* environment = std::getenv("VESPAR_CONFIG_URL");
  if (environment && *environment) return FromUtf8(environment);
  return BuiltInConfigurationUrl();
}

std::u16string FetchFailedMessage(int code) {
  return u"통신 실패 : " + FromUtf8(std::to_string(code)) + u"\r\n 네트워크 환경을 확인바랍니다.";
}

StartupResult RunStartup(const BootstrapOptions& options) {
  StartupResult result;
  SystemLanguageId = SystemLanguageIdFromLocale();
  std::u16string descriptor(kBuiltInDescriptor);

  result.fetchResult = FetchConfiguration(ConfigurationUrl, options);
  if (result.fetchResult != 0) {
    ShowMessage(FetchFailedMessage(result.fetchResult), u"DownList Failed");
    result.outcome = StartupOutcome::kConfigurationFailed;
    return result;
  }
  descriptor += FromWire(ParseConfiguration(ConfigurationText));

  BootstrapOptions apply_options = options;
  if (!apply_options.resolveLanguage) apply_options.resolveLanguage = &ResolveLanguageModule;
  if (ApplyStartupDescriptor(descriptor, apply_options) == 1) {
    result.outcome = StartupOutcome::kStopped;
    return result;
  }
  LoadStrings();
  result.outcome = StartupOutcome::kReady;
  return result;
}

int RunScriptStep(const BootstrapOptions& options) {
  int result = RunContentsScript(options);
  DownloadListFinished().Set();
  return result;
}

}  // namespace vespar
