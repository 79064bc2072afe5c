#include "src/app/startup.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "src/bootstrap/bootstrap_testing.h"
#include "src/bootstrap/globals.h"
#include "src/platform/code_page.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

using testing::Fault;
using testing::TestServer;

TEST(StartupTest, ConfigurationUrlOrder) {
  const char* saved = std::getenv("VESPAR_CONFIG_URL");
  std::string saved_value = saved ? saved : "";
  unsetenv("VESPAR_CONFIG_URL");
  EXPECT_EQ(ChooseConfigurationUrl(), BuiltInConfigurationUrl());
  EXPECT_NE(BuiltInConfigurationUrl().find(u"vespar.ini"), std::u16string::npos);
  setenv("VESPAR_CONFIG_URL", "", 1);
  EXPECT_EQ(ChooseConfigurationUrl(), BuiltInConfigurationUrl());
  setenv("VESPAR_CONFIG_URL", "http://env/vespar.ini", 1);
  EXPECT_EQ(ChooseConfigurationUrl(), u"http://env/vespar.ini");
  EXPECT_EQ(ChooseConfigurationUrl(u"http://flag/vespar.ini"), u"http://flag/vespar.ini");
  if (saved) {
    setenv("VESPAR_CONFIG_URL", saved_value.c_str(), 1);
  } else {
    unsetenv("VESPAR_CONFIG_URL");
  }
}

class RunStartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ConfigurationUrl = FromUtf8(server_.Url("/vespar.ini"));
    server_.AddFile("/full/a.exe", "a");
    server_.AddFile("/full/b.exe", "b");
    server_.AddFolder("/full/");
  }
  void TearDown() override { ConfigurationUrl.clear(); }

  std::vector<ScriptedPrompt::Asked> Asked() const { return scope_.asked(); }

  RecordingPromptScope scope_;
  TestServer server_;
};

TEST_F(RunStartupTest, BuildsTheListAndLoadsTheStrings) {
  server_.AddFile("/vespar.ini", "r\n" + server_.Url("/") + "\nfull/*.*:patch/p.exe\nsetup.exe\n");
  StartupResult result = RunStartup();
  EXPECT_EQ(result.outcome, StartupOutcome::kReady);
  EXPECT_EQ(result.fetchResult, 0);
  EXPECT_EQ(FolderLayoutFlag, u"r");
  EXPECT_EQ(LaunchFileName, u"setup.exe");
  EXPECT_EQ(LanguageModuleName, u"resourcedll_kor");
  EXPECT_EQ(ApplicationTitle, u"Vespar Downloader");
  EXPECT_EQ(ScriptUrl, u"none");
  EXPECT_EQ(DownloadNames, (std::vector<std::u16string>{u"a.exe", u"b.exe", u"p.exe"}));
  EXPECT_TRUE(Asked().empty());
}

TEST_F(RunStartupTest, FailedFetchShowsTheNumberInOneBox) {
  static const struct {
    int status;
    std::u16string_view text;
  } kCases[] = {
      {404, u"통신 실패 : 404\r\n 네트워크 환경을 확인바랍니다."},
      {500, u"통신 실패 : 500\r\n 네트워크 환경을 확인바랍니다."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    RecordingPromptScope scope;
    server_.AddFile("/vespar.ini", "r\nhttp://h/\na.exe\n");
    Fault fault;
    fault.status = c.status;
    server_.SetFault("/vespar.ini", fault);
    StartupResult result = RunStartup();
    EXPECT_EQ(result.outcome, StartupOutcome::kConfigurationFailed);
    EXPECT_EQ(result.fetchResult, c.status);
    EXPECT_TRUE(DownloadNames.empty());
    EXPECT_EQ(ApplicationTitle, u"");
    auto asked = scope.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, c.text);
    EXPECT_EQ(asked[0].caption, u"DownList Failed");
  }
}

TEST_F(RunStartupTest, BuiltInModuleHoldsOnEverySystemLanguage) {
  static const struct {
    const char* locale;
    uint16_t id;
  } kCases[] = {{"ja_JP.UTF-8", 0x0411}, {"de_DE.UTF-8", 0x0407}, {"C", 0x0409}};
  const char* saved = std::getenv("LC_ALL");
  std::string saved_value = saved ? saved : "";
  server_.AddFile("/vespar.ini", "r\n" + server_.Url("/") + "\nfull/a.exe\n\n");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.locale);
    RecordingPromptScope scope;
    setenv("LC_ALL", c.locale, 1);
    EXPECT_EQ(RunStartup().outcome, StartupOutcome::kReady);
    EXPECT_EQ(SystemLanguageId, c.id);
    EXPECT_EQ(LanguageModuleName, u"resourcedll_kor");
    EXPECT_TRUE(scope.asked().empty());
  }
  if (saved) {
    setenv("LC_ALL", saved_value.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  SystemLanguageId = 0;
}

TEST_F(RunStartupTest, CrawlFailureStopsAfterItsOwnMessage) {
  server_.AddFile("/vespar.ini", "r\n" + server_.Url("/") + "\nmissing/*.*\n\n");
  StartupResult result = RunStartup();
  EXPECT_EQ(result.outcome, StartupOutcome::kStopped);
  auto asked = Asked();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, u"Not found /missing/- folder download");
  EXPECT_EQ(asked[0].caption, u"Failed...");
}

TEST_F(RunStartupTest, ScriptStepMarksTheListFinal) {
  static const struct {
    const char* name;
    bool serve_script;
    int result;
  } kCases[] = {{"switched off", false, 0}, {"missing script", true, 16}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordingPromptScope scope;
    DownloadListFinished().Reset();
    ScriptUrl = c.serve_script ? FromUtf8(server_.Url("/missing-script.txt")) : u"none";
    EXPECT_EQ(RunScriptStep(), c.result);
    EXPECT_TRUE(DownloadListFinished().IsSet());
  }
  DownloadListFinished().Reset();
}

}  // namespace
}  // namespace vespar
