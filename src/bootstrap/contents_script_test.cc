#include "src/bootstrap/contents_script.h"

#include <gtest/gtest.h>

#include "src/bootstrap/bootstrap_testing.h"
#include "src/bootstrap/globals.h"
#include "src/platform/code_page.h"
#include "src/platform/resolver.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

using testing::Fault;
using testing::TestServer;

TEST(ParseContentsScriptTest, TwoStatementsInOrder) {
  static const struct {
    const char* name;
    std::u16string_view text;
    int result;
    std::u16string_view url;
    std::u16string_view executable;
  } kCases[] = {
      {"plain",
       u"ZEDaruduzedo_ContentsURL = \"http://h/x/*.*\";\nZEDaruduzedo_ExcuteFile = \"run.exe\";",
       kScriptOk, u"http://h/x/*.*", u"run.exe"},
      {"other text ignored",
       u"// list\nvar a;ZEDaruduzedo_ContentsURL=\"http://h/a.exe\"; junk "
       u"ZEDaruduzedo_ExcuteFile=\"설치.exe\"; tail",
       kScriptOk, u"http://h/a.exe", u"설치.exe"},
      {"empty executable",
       u"ZEDaruduzedo_ContentsURL = \"http://h/a.exe\"; ZEDaruduzedo_ExcuteFile = \"\";", kScriptOk,
       u"http://h/a.exe", u""},
      {"executable first",
       u"ZEDaruduzedo_ExcuteFile = \"run.exe\"; ZEDaruduzedo_ContentsURL = \"http://h/a.exe\";",
       kScriptSyntaxError, u"", u""},
      {"; inside the URL",
       u"ZEDaruduzedo_ContentsURL = \"http://h/a.exe;b.exe\"; ZEDaruduzedo_ExcuteFile = \"r\";",
       kScriptSyntaxError, u"", u""},
      {"missing ;", u"ZEDaruduzedo_ContentsURL = \"http://h/a.exe\" ZEDaruduzedo_ExcuteFile = \"r\"",
       kScriptSyntaxError, u"", u""},
      {"missing key", u"ZEDaruduzedo_ContentsURL = \"http://h/a.exe\";", kScriptSyntaxError, u"",
       u""},
      {"missing quote",
       u"ZEDaruduzedo_ContentsURL = \"http://h/a.exe; ZEDaruduzedo_ExcuteFile = \"r\";",
       kScriptSyntaxError, u"", u""},
      {"missing =", u"ZEDaruduzedo_ContentsURL \"http://h/a.exe\"; ZEDaruduzedo_ExcuteFile = \"r\";",
       kScriptSyntaxError, u"", u""},
      {"empty", u"", kScriptSyntaxError, u"", u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ContentsScript script;
    EXPECT_EQ(ParseContentsScript(c.text, &script), c.result);
    EXPECT_EQ(script.contentsUrl, c.url);
    EXPECT_EQ(script.executable, c.executable);
  }
}

class RunContentsScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    ScriptUrl = FromUtf8(server_.Url("/script.txt"));
    options_.receiveTimeoutMs = 2000;
  }

  void ServeScript(std::u16string_view contents_url, std::u16string_view executable) {
    server_.AddFile("/script.txt",
                    ToWire(u"ZEDaruduzedo_ContentsURL = \"" + std::u16string(contents_url) +
                           u"\";\r\nZEDaruduzedo_ExcuteFile = \"" + std::u16string(executable) +
                           u"\";\r\n"));
  }

  std::u16string Base() const { return FromUtf8(server_.Url("/")); }

  RecordingPromptScope scope_;
  TestServer server_;
  BootstrapOptions options_;
};

TEST_F(RunContentsScriptTest, NoneSwitchesTheStepOff) {
  ScriptUrl = u"none";
  LaunchFileName = u"keep.exe";
  EXPECT_EQ(RunContentsScript(options_), kScriptOk);
  EXPECT_EQ(server_.ConnectionCount(), 0u);
  EXPECT_EQ(LaunchFileName, u"keep.exe");
  EXPECT_EQ(ScriptErrorText, u"");
}

TEST_F(RunContentsScriptTest, ScriptAddsItsListAndLaunchFile) {
  server_.AddFile(ToWire(u"/extra/한글.pak"), "1", "/extra/한글.pak");
  server_.AddFolder("/extra/");
  ServeScript(Base() + u"extra/*.*:patch/p.exe", u"bin/설치.exe");
  DownloadBases = {u"http://first/"};
  DownloadFolders = {u"full/"};
  DownloadNames = {u"a.exe"};
  ContentBaseUrl = u"http://first/";

  ASSERT_EQ(RunContentsScript(options_), kScriptOk);
  EXPECT_EQ(LaunchFileName, u"bin/설치.exe");
  EXPECT_EQ(ScriptErrorText, u"");
  ASSERT_EQ(DownloadNames.size(), 3u);
  EXPECT_EQ(DownloadEntryUrl(0), u"http://first/full/a.exe");
  EXPECT_EQ(DownloadEntryUrl(1), Base() + u"/extra/한글.pak");
  EXPECT_EQ(DownloadEntryUrl(2), Base() + u"patch/p.exe");

  auto requests = server_.Requests();
  ASSERT_GE(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/script.txt");
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_NE(requests[0].raw_head.find("\r\nUser-Agent: HTTP\r\n"), std::string::npos);
}

TEST_F(RunContentsScriptTest, EmptyExecutableKeepsTheLaunchFile) {
  ServeScript(Base() + u"a.exe", u"");
  LaunchFileName = u"from-config.exe";
  ASSERT_EQ(RunContentsScript(options_), kScriptOk);
  EXPECT_EQ(LaunchFileName, u"from-config.exe");
  EXPECT_EQ(DownloadNames, std::vector<std::u16string>{u"a.exe"});
}

TEST_F(RunContentsScriptTest, FailedListOfTheScriptIsShownButTheStepSucceeds) {
  ServeScript(Base() + u"missing/*.*", u"run.exe");
  EXPECT_EQ(RunContentsScript(options_), kScriptOk);
  EXPECT_EQ(LaunchFileName, u"run.exe");
  auto asked = scope_.asked();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, u"Not found /missing/- folder download");
}

TEST_F(RunContentsScriptTest, FailuresSetTheScriptErrorText) {
  static const struct {
    const char* name;
    void (*setup)(TestServer&);
    int result;
    std::u16string_view text;
  } kCases[] = {
      {"status 404", [](TestServer&) {}, kScriptBadStatus, u"Script : Error Code Number 404"},
      {"status 503",
       [](TestServer& s) {
         s.AddFile("/script.txt", "x");
         Fault f;
         f.status = 503;
         s.SetFault("/script.txt", f);
       },
       kScriptBadStatus, u"Script : Error Code Number 503"},
      {"statements reversed",
       [](TestServer& s) {
         s.AddFile("/script.txt",
                   "ZEDaruduzedo_ExcuteFile = \"r.exe\"; ZEDaruduzedo_ContentsURL = \"http://h/a\";");
       },
       kScriptSyntaxError, u"Script Error!"},
      {"executable outside the folder",
       [](TestServer& s) {
         s.AddFile("/script.txt",
                   "ZEDaruduzedo_ContentsURL = \"http://h/a\"; ZEDaruduzedo_ExcuteFile = \"../r\";");
       },
       kScriptSyntaxError, u"Script Error!"},
      {"closed in the head",
       [](TestServer& s) {
         s.AddFile("/script.txt", "x");
         Fault f;
         f.raw_response = "HTTP/1.0 2";
         s.SetFault("/script.txt", f);
       },
       kScriptCannotOpenUrl, u"Script : Can not open URL!"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server_.ClearFaults();
    server_.RemoveFile("/script.txt");
    c.setup(server_);
    ScriptErrorText.clear();
    LaunchFileName = u"keep.exe";
    EXPECT_EQ(RunContentsScript(options_), c.result);
    EXPECT_EQ(ScriptErrorText, c.text);
    EXPECT_EQ(LaunchFileName, u"keep.exe");
    EXPECT_TRUE(DownloadNames.empty());
  }
}

TEST_F(RunContentsScriptTest, UnreachableServerFailsTheProbe) {
  {
    StaticResolver resolver;
    SetResolver(&resolver);
    ScriptUrl = u"http://no-such-host.invalid/script.txt";
    EXPECT_EQ(RunContentsScript(options_), kScriptCannotResolve);
    SetResolver(nullptr);
    EXPECT_EQ(ScriptErrorText, u"Script : Can not resolve domain name!");
  }
  ScriptUrl = FromUtf8(server_.Url("/script.txt"));
  server_.Stop();
  int result = RunContentsScript(options_);
  EXPECT_TRUE(result == kScriptConnectFailed || result == kScriptConnectTimedOut) << result;
  EXPECT_EQ(ScriptErrorText, u"Script : Time out!");
}

}  // namespace
}  // namespace vespar
