#include "src/bootstrap/configuration.h"

#include <regex>

#include <gtest/gtest.h>

#include "src/bootstrap/bootstrap_testing.h"
#include "src/bootstrap/globals.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "src/platform/http_client.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

using testing::Fault;
using testing::TestServer;

TEST(ParseConfigurationTest, DescriptorTailFromTheFirstFourLines) {
  static const struct {
    const char* name;
    std::u16string_view text;
    std::u16string_view tail;
  } kCases[] = {
      {"four lines", u"r\nhttp://h/\nfull/client/*.*\nsetup.exe\n",
       u"|r|http://h/full/client/*.*|setup.exe"},
      {"keys and blanks ignored", u"layout = r \r\nbase=http://h/\r\nlist=  full/*.*\r\nrun=setup.exe\r\n",
       u"|r|http://h/full/*.*|setup.exe"},
      {"only the first = splits", u"r\nurl=http://h/?a=b\n\n", u"|r|http://h/?a=b"},
      {"empty line 4", u"r\nhttp://h/\nfull/*.*\n\n", u"|r|http://h/full/*.*"},
      {"missing lines", u"r\nhttp://h/a.exe", u"|r|http://h/a.exe"},
      {"empty text", u"", u"||"},
      {"lines after 4 ignored", u"x\nhttp://h/\na.exe\nrun.exe\nmore\nlines\n",
       u"|x|http://h/a.exe|run.exe"},
      {"empty line 1", u"\nhttp://h/\na.exe\nrun.exe\n", u"||http://h/a.exe|run.exe"},
      {"| in a value", u"r\nhttp://h/\na.exe|b\nrun.exe\n", u"|r|http://h/a.exe|b|run.exe"},
      {"Korean launch file", u"r\nhttp://h/\na.exe\n설치.exe\n", u"|r|http://h/a.exe|설치.exe"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseConfiguration(c.text), ToWire(c.tail));
  }
}

TEST(ParseConfigurationTest, KeyedAndBareValueGiveTheSameFlag) {
  EXPECT_EQ(ParseConfiguration(u"r\na\nb\n"), ParseConfiguration(u"flag =   r  \na\nb\n"));
}

TEST(StartupDescriptorTest, FieldsAfterEmptyPiecesAreDropped) {
  static const struct {
    std::u16string_view descriptor;
    std::vector<std::u16string> fields;
  } kCases[] = {
      {u"KOR_0001|ResourceDLL_kor|r|http://h/a.exe|run.exe",
       {u"KOR_0001", u"ResourceDLL_kor", u"r", u"http://h/a.exe", u"run.exe"}},
      {u"KOR_0001|ResourceDLL_kor||http://h/a.exe|run.exe",
       {u"KOR_0001", u"ResourceDLL_kor", u"http://h/a.exe", u"run.exe"}},
      {u"||a||b|", {u"a", u"b"}},
      {u"", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.descriptor));
    EXPECT_EQ(SplitStartupDescriptor(c.descriptor), c.fields);
  }
}

std::u16string Descriptor(std::u16string_view configuration) {
  return std::u16string(kBuiltInDescriptor) + FromWire(ParseConfiguration(configuration));
}

TEST(ApplyStartupDescriptorTest, StoresFieldsAndListsSingleEntries) {
  RecordingPromptScope scope;
  bool language_resolved = false;
  BootstrapOptions options;
  options.resolveLanguage = [&] { return language_resolved = true; };
  ASSERT_EQ(ApplyStartupDescriptor(
                Descriptor(u"r\nhttp://h:81/\nfull/patch/a.exe:b.exe:c/d.exe\nrun/setup.exe\n"),
                options),
            0);
  EXPECT_EQ(RegionCode, u"KOR_0001");
  EXPECT_EQ(LanguageModuleName, u"ResourceDLL_kor");
  EXPECT_EQ(FolderLayoutFlag, u"r");
  EXPECT_EQ(LaunchFileName, u"run/setup.exe");
  EXPECT_EQ(ContentBaseUrl, u"http://h:81/");
  EXPECT_TRUE(language_resolved);
  ASSERT_EQ(DownloadNames.size(), 3u);
  EXPECT_EQ(DownloadEntryUrl(0), u"http://h:81/full/patch/a.exe");
  EXPECT_EQ(DownloadEntryUrl(1), u"http://h:81/full/patch/b.exe");
  EXPECT_EQ(DownloadEntryUrl(2), u"http://h:81/c/d.exe");
  EXPECT_TRUE(scope.asked().empty());
}

TEST(ApplyStartupDescriptorTest, EmptyLaunchLineLeavesLaunchFileEmpty) {
  RecordingPromptScope scope;
  ASSERT_EQ(ApplyStartupDescriptor(Descriptor(u"x\nhttp://h/\na.exe\n\n")), 0);
  EXPECT_EQ(FolderLayoutFlag, u"x");
  EXPECT_EQ(LaunchFileName, u"");
  EXPECT_EQ(DownloadNames, std::vector<std::u16string>{u"a.exe"});
}

TEST(ApplyStartupDescriptorTest, EmptyFirstLineShiftsTheFields) {
  RecordingPromptScope scope;
  ASSERT_EQ(ApplyStartupDescriptor(Descriptor(u"\nhttp://h/\na.exe\nrun.exe\n")), 0);
  // The joined URL becomes the layout flag and the launch line the list.
  EXPECT_EQ(FolderLayoutFlag, u"http://h/a.exe");
  EXPECT_EQ(LaunchFileName, u"");
  EXPECT_EQ(DownloadNames, std::vector<std::u16string>{u"run.exe"});
}

TEST(ApplyStartupDescriptorTest, WrongFieldCountStopsQuietly) {
  static const struct {
    const char* name;
    std::u16string_view configuration;
  } kCases[] = {
      {"empty lines 1 and 4", u"\nhttp://h/\na.exe\n\n"},
      {"six fields", u"r\nhttp://h/\na.exe|b.exe\nrun|x.exe\n"},
      {"empty configuration", u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordingPromptScope scope;
    bool language_asked = false;
    BootstrapOptions options;
    options.resolveLanguage = [&] { return language_asked = true; };
    EXPECT_EQ(ApplyStartupDescriptor(Descriptor(c.configuration), options), 1);
    EXPECT_TRUE(DownloadNames.empty());
    EXPECT_EQ(RegionCode, u"");
    EXPECT_FALSE(language_asked);
    EXPECT_TRUE(scope.asked().empty());
  }
}

TEST(ApplyStartupDescriptorTest, UnsafeEntriesOrLaunchFileStopWithAMessage) {
  static const struct {
    const char* name;
    std::u16string_view configuration;
    std::u16string_view message;
  } kCases[] = {
      {"launch file outside", u"r\nhttp://h/\na.exe\n../evil.sh\n",
       u"Invalid launch file name ../evil.sh"},
      {"absolute launch file", u"r\nhttp://h/\na.exe\n/bin/sh\n", u"Invalid launch file name /bin/sh"},
      {"parent folder entry", u"r\nhttp://h/\n../../a.exe\n\n",
       u"Invalid folder ../../- folder download"},
      {"dot segment", u"r\nhttp://h/\nfull/./x/a.exe\n\n",
       u"Invalid folder full/./x/- folder download"},
      {"absolute folder", u"r\nhttp://h/\nok.exe:/etc/passwd\n\n",
       u"Invalid folder /etc/- folder download"},
      {"backslash name", u"r\nhttp://h/\nfull/..\\x.exe\n\n",
       u"Invalid file name ..\\x.exe- folder download"},
      {"control character", u"r\nhttp://h/\nfull/a\x01.exe\n\n",
       u"Invalid file name a?.exe- folder download"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordingPromptScope scope;
    EXPECT_EQ(ApplyStartupDescriptor(Descriptor(c.configuration)), 1);
    EXPECT_TRUE(DownloadNames.empty());
    EXPECT_EQ(LaunchFileName, u"");
    auto asked = scope.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, c.message);
    EXPECT_EQ(asked[0].caption, u"Failed...");
  }
}

TEST(ApplyStartupDescriptorTest, FailedLanguageStepStopsAfterTheList) {
  RecordingPromptScope scope;
  BootstrapOptions options;
  options.resolveLanguage = [] { return false; };
  EXPECT_EQ(ApplyStartupDescriptor(Descriptor(u"r\nhttp://h/\na.exe\nrun.exe\n"), options), 1);
  EXPECT_EQ(DownloadNames.size(), 1u);
}

class FetchConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  std::u16string Url(const char* path) { return FromUtf8(server_.Url(path)); }

  RecordingPromptScope scope_;
  TestServer server_;
};

TEST_F(FetchConfigurationTest, FetchesAndDecodesTheBody) {
  const std::u16string text = u"r\nhttp://h/\nfull/한글/*.*\n설치.exe\n";
  server_.AddFile("/conf/vespar.ini", ToWire(text));
  ASSERT_EQ(FetchConfiguration(Url("/conf/vespar.ini")), 0);
  EXPECT_EQ(ConfigurationText, text);

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_NE(requests[0].raw_head.find("\r\nUser-Agent: Download\r\n"), std::string::npos);
  // The query is the local time as ctime() writes it, percent-encoded.
  std::string target = requests[0].target;
  ASSERT_EQ(target.rfind("/conf/vespar.ini?", 0), 0u) << target;
  std::string query = UrlDecode(target.substr(target.find('?') + 1));
  EXPECT_TRUE(std::regex_match(
      query, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n")))
      << query;
}

TEST_F(FetchConfigurationTest, BodyInManyBlocksIsJoinedBeforeDecoding) {
  // Three bytes at a time split most two-byte characters between blocks.
  std::u16string text = u"r\nhttp://h/\n";
  for (int i = 0; i < 40; ++i) text += u"가나다라";
  text += u"\n설치.exe\n";
  server_.AddFile("/vespar.ini", ToWire(text));
  Fault drip;
  drip.drip_bytes = 3;
  drip.drip_interval_ms = 1;
  server_.SetFault("/vespar.ini", drip);
  ASSERT_EQ(FetchConfiguration(Url("/vespar.ini")), 0);
  EXPECT_EQ(ConfigurationText, text);
}

TEST_F(FetchConfigurationTest, AnyStatusOtherThan200FailsWithThatStatus) {
  static const int kStatuses[] = {404, 500, 503, 403};
  for (int status : kStatuses) {
    SCOPED_TRACE(status);
    server_.AddFile("/vespar.ini", "r\nhttp://h/\na.exe\n");
    Fault fault;
    fault.status = status;
    server_.SetFault("/vespar.ini", fault);
    ConfigurationText = u"stale";
    EXPECT_EQ(FetchConfiguration(Url("/vespar.ini")), status);
    EXPECT_EQ(ConfigurationText, u"");
  }
}

TEST_F(FetchConfigurationTest, MissingFileIs404) {
  EXPECT_EQ(FetchConfiguration(Url("/nothing.ini")), 404);
}

TEST_F(FetchConfigurationTest, StalledOrCutAnswersFailWithTheClientError) {
  static const struct {
    const char* name;
    bool stall;
    int result;
  } kCases[] = {
      {"stall before the head", true, kHttpErrorBase + 28},
      {"closed in the body", false, kHttpErrorBase + 18},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server_.AddFile("/vespar.ini", "r\nhttp://h/\na.exe\nrun.exe\n");
    Fault fault;
    if (c.stall) {
      fault.stall_before_head = true;
    } else {
      fault.cut_after = 5;
    }
    server_.SetFault("/vespar.ini", fault);
    BootstrapOptions options;
    options.stallTimeoutS = 1;
    EXPECT_EQ(FetchConfiguration(Url("/vespar.ini"), options), c.result);
  }
}

TEST_F(FetchConfigurationTest, RefusedConnectionIsCouldNotConnect) {
  std::u16string url = Url("/vespar.ini");
  server_.Stop();
  EXPECT_EQ(FetchConfiguration(url), kHttpErrorBase + 7);
}

}  // namespace
}  // namespace vespar
