#pragma once

// The start-up steps both front ends share, from reading the system language
// to loading the string table: fetch the configuration, build the start-up
// descriptor, apply it (download list and language module), load the
// strings. The front end installs its prompt first; every message of these
// steps goes through it.

#include <string>
#include <string_view>

#include "src/bootstrap/bootstrap_options.h"

namespace vespar {

enum class StartupOutcome {
  kReady,                // the download list is built; the front end goes on
  kConfigurationFailed,  // the fetch failed; "DownList Failed" was shown
  kStopped,              // the descriptor stopped start-up; its message was shown
};

struct StartupResult {
  StartupOutcome outcome = StartupOutcome::kStopped;
  int fetchResult = 0;  // FetchConfiguration's result
};

// The configuration URL compiled in (the VESPAR_CONFIG_URL cache variable).
std::u16string BuiltInConfigurationUrl();

// `override_url` when not empty (the console's --config-url), else
// $VESPAR_CONFIG_URL when set and not empty, else the built-in URL.
std::u16string ChooseConfigurationUrl(std::u16string_view override_url = {});

// "통신 실패 : <code>\r\n 네트워크 환경을 확인바랍니다." with the code in decimal.
std::u16string FetchFailedMessage(int code);

// Runs the steps with ConfigurationUrl. Unless `options` brings its own, the
// language step is ResolveLanguageModule.
StartupResult RunStartup(const BootstrapOptions& options = {});

// The contents-script step, run once the manager thread is up: returns
// RunContentsScript's result (ScriptErrorText is set when it is not 0) and
// then marks the download list final (DownloadListFinished).
int RunScriptStep(const BootstrapOptions& options = {});

}  // namespace vespar
