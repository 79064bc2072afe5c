#include "src/bootstrap/download_list.h"

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

class DownloadListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    base_ = FromUtf8(server_.Url("/"));
    options_.receiveTimeoutMs = 2000;
  }

  // Serves `html` as the listing of `folder`.
  void ServeListing(const std::string& folder, const std::string& html) {
    server_.AddFile(folder, html);
  }

  int Build(std::u16string_view entries) {
    return BuildDownloadList(base_ + std::u16string(entries), options_);
  }

  std::vector<std::u16string> Urls() const {
    std::vector<std::u16string> urls;
    for (size_t i = 0; i < DownloadNames.size(); ++i) urls.push_back(DownloadEntryUrl(i));
    return urls;
  }

  std::vector<std::u16string> Messages() const {
    std::vector<std::u16string> texts;
    for (const auto& a : scope_.asked()) {
      EXPECT_EQ(a.caption, u"Failed...");
      texts.push_back(a.text);
    }
    return texts;
  }

  RecordingPromptScope scope_;
  TestServer server_;
  std::u16string base_;
  BootstrapOptions options_;
};

TEST_F(DownloadListTest, FolderEntryListsItsFilesInLinkOrder) {
  server_.AddFile("/full/client/setup.exe", "1");
  server_.AddFile("/full/client/data 1.pak", "22");
  server_.AddFile("/full/client/sub/deep.bin", "333");
  server_.AddFile(ToWire(u"/full/client/한글 파일.txt"), "4444", "/full/client/한글 파일.txt");
  server_.AddFolder("/full/client/");
  ASSERT_EQ(Build(u"full/client/*.*"), 0);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(ContentBaseUrl, base_);
  // Sub-folder and parent links are not followed.
  EXPECT_EQ(DownloadNames,
            (std::vector<std::u16string>{u"data 1.pak", u"setup.exe", u"한글 파일.txt"}));
  EXPECT_EQ(DownloadFolders, std::vector<std::u16string>(3, u"/full/client/"));
  EXPECT_EQ(Urls()[1], base_ + u"/full/client/setup.exe");

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw_head, "GET /full/client/ HTTP/1.1\r\nHost: " + server_.HostToken() +
                                      "\r\n\r\n");
}

TEST_F(DownloadListTest, FoldersAndSingleEntriesMix) {
  server_.AddFile("/full/client/a.exe", "1");
  server_.AddFolder("/full/client/");
  ASSERT_EQ(Build(u"full/client/*.*:full/patch/p1.exe:p2.exe:top.exe"), 0);
  EXPECT_EQ(Urls(), (std::vector<std::u16string>{
                        base_ + u"/full/client/a.exe", base_ + u"full/patch/p1.exe",
                        base_ + u"full/patch/p2.exe", base_ + u"full/patch/top.exe"}));
}

TEST_F(DownloadListTest, LinksAreFilteredAndDecoded) {
  ServeListing("/x/",
               "<A HREF=\"/\">[To Parent Directory]</A>"
               "<A HREF=\"relative.exe\">relative</A>"
               "<A HREF=\"/x/sub/\">sub</A>"
               "<A HREF=\"/x/a%20b.exe\">a b</A>"
               "<A HREF=\"/x/c+d.exe\">c d</A>"
               "<A HREF=\"/x/%ED%95%9C.dat\">kor</A>"
               "<a href=\"/x/lower.exe\">lower</a>");
  ASSERT_EQ(Build(u"x/*.*"), 0);
  EXPECT_EQ(DownloadNames, (std::vector<std::u16string>{u"a b.exe", u"c d.exe", u"한.dat"}));
}

TEST_F(DownloadListTest, RequestTargetIsTheWireCodePagePercentEncoded) {
  server_.AddFile(ToWire(u"/게임/a.exe"), "1");
  server_.AddFolder(ToWire(u"/게임/"));
  ASSERT_EQ(Build(u"게임/*.*"), 0);
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/%B0%D4%C0%D3/");
  EXPECT_EQ(DownloadFolders, std::vector<std::u16string>{u"/게임/"});
}

TEST(ListingRequestTest, CollapsesDoubleSlashes) {
  EXPECT_EQ(ListingRequest(u"/full/client/", u"h:81"),
            "GET /full/client/ HTTP/1.1\r\nHost: h:81\r\n\r\n");
  EXPECT_EQ(ListingRequest(u"//full//x y/", u"h"), "GET /full/x%20y/ HTTP/1.1\r\nHost: h\r\n\r\n");
}

TEST_F(DownloadListTest, HeadInSeveralBlocksParsesTheSame) {
  server_.AddFile("/x/a.exe", "1");
  server_.AddFolder("/x/");
  Fault drip;
  drip.drip_bytes = 7;
  drip.drip_interval_ms = 1;
  server_.SetFault("/x/", drip);
  ASSERT_EQ(Build(u"x/*.*"), 0);
  EXPECT_EQ(DownloadNames, std::vector<std::u16string>{u"a.exe"});
}

TEST_F(DownloadListTest, UnsafeLinkedNamesRefuseTheListing) {
  static const struct {
    const char* link;
    std::u16string_view shown;
  } kCases[] = {
      {"/x/..", u".."},
      {"/x/%2E%2E", u".."},
      {"/x/.", u"."},
      {"/x/..%2F..%2Fevil.sh", u"../../evil.sh"},
      {"/x/a%5Cb.exe", u"a\\b.exe"},
      {"/x/a%0Ab.exe", u"a?b.exe"},
      {"/x/a%00b.exe", u"a?b.exe"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.link);
    RecordingPromptScope scope;
    ServeListing("/x/", std::string("<A HREF=\"/x/good.exe\">g</A><A HREF=\"") + c.link +
                            "\">bad</A>");
    EXPECT_EQ(Build(u"ok.exe:x/*.*"), -1);
    // Nothing of the refused listing is kept.
    EXPECT_EQ(DownloadNames, std::vector<std::u16string>{u"ok.exe"});
    auto asked = scope.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, u"Invalid file name " + std::u16string(c.shown) + u"- folder download");
    EXPECT_EQ(asked[0].caption, u"Failed...");
  }
}

TEST_F(DownloadListTest, CrawlFailuresShowTheirMessage) {
  static const struct {
    const char* name;
    void (*fault)(Fault&);
    const char* raw_listing;  // served in place of the generated listing when not empty
    std::u16string_view message;
  } kCases[] = {
      {"404", [](Fault& f) { f.status = 404; }, "", u"Not found /x/- folder download"},
      {"no second blank",
       [](Fault& f) { f.raw_response = "HTTP/1.1 200\r\nContent-Length:3\r\n\r\nabc"; }, "",
       u"Not found /x/- folder download"},
      {"chunked", [](Fault& f) { f.chunked = true; }, "", u"Http parsing error - folder download"},
      {"no length", [](Fault& f) { f.length = testing::LengthFault::kMissing; }, "",
       u"Http parsing error - folder download"},
      {"length past the listing limit",
       [](Fault& f) {
         f.length = testing::LengthFault::kWrong;
         f.wrong_length = (int64_t{64} << 20) + 1;
       },
       "", u"Http parsing error - folder download"},
      {"no status line", [](Fault& f) { f.raw_response = "ICY 200 OK\r\n\r\n"; }, "",
       u"Http parsing error - folder download"},
      {"head over 4096 bytes",
       [](Fault& f) { f.extra_head_lines = "X-Padding: " + std::string(4100, 'p') + "\r\n"; }, "",
       u"Recv failed - folder download"},
      {"closed in the head", [](Fault& f) { f.raw_response = "HTTP/1.1 200 OK\r\nContent-"; }, "",
       u"Recv failed - folder download"},
      {"closed in the body", [](Fault& f) { f.cut_after = 10; }, "",
       u"Recv failed - folder download"},
      {"reset in the body",
       [](Fault& f) {
         f.cut_after = 10;
         f.ending = testing::Ending::kReset;
       },
       "", u"Recv failed - folder download"},
      {"stall before the head", [](Fault& f) { f.stall_before_head = true; }, "",
       u"Recv failed - folder download"},
      {"stall in the body",
       [](Fault& f) {
         f.cut_after = 10;
         f.ending = testing::Ending::kStall;
       },
       "", u"Recv failed - folder download"},
      {"only folders", [](Fault&) {}, "<A HREF=\"/\">up</A><A HREF=\"/x/sub/\">sub</A>",
       u"Not exist file in /x/- folder download"},
      {"empty listing", [](Fault&) {}, "<html></html>", u"Not exist file in /x/- folder download"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordingPromptScope scope;
    server_.ClearFaults();
    server_.RemoveFile("/x/");
    server_.AddFile("/x/" + std::string(500, 'a') + ".exe", "1");
    server_.AddFolder("/x/");
    if (*c.raw_listing) ServeListing("/x/", c.raw_listing);
    Fault fault;
    c.fault(fault);
    server_.SetFault("/x/", fault);
    EXPECT_EQ(Build(u"first.exe:x/*.*:last.exe"), -1);
    // Entries before the failure stay; nothing after it is added.
    EXPECT_EQ(DownloadNames, std::vector<std::u16string>{u"first.exe"});
    auto asked = scope.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, c.message);
  }
}

TEST_F(DownloadListTest, UnresolvableHostAndRefusedConnection) {
  {
    StaticResolver resolver;
    SetResolver(&resolver);
    EXPECT_EQ(BuildDownloadList(u"http://no-such-host.invalid:8080/x/*.*", options_), -1);
    SetResolver(nullptr);
    EXPECT_EQ(Messages(), std::vector<std::u16string>{u"Can not resolve hostname - folder download"});
  }
  {
    RecordingPromptScope scope;
    server_.Stop();
    EXPECT_EQ(Build(u"x/*.*"), -1);
    auto asked = scope.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, u"Connect failed - folder download");
  }
}

TEST_F(DownloadListTest, EachEntryKeepsTheBaseItWasListedUnder) {
  server_.AddFile("/x/a.exe", "1");
  server_.AddFolder("/x/");
  ASSERT_EQ(Build(u"x/*.*:one.exe"), 0);
  TestServer second;
  ASSERT_TRUE(second.Start());
  second.AddFile("/y/b.exe", "2");
  second.AddFolder("/y/");
  const std::u16string second_base = FromUtf8(second.Url("/"));
  ASSERT_EQ(BuildDownloadList(second_base + u"y/*.*", options_), 0);
  EXPECT_EQ(ContentBaseUrl, second_base);
  EXPECT_EQ(Urls(), (std::vector<std::u16string>{base_ + u"/x/a.exe", base_ + u"x/one.exe",
                                                 second_base + u"/y/b.exe"}));
  EXPECT_EQ(second.RequestCount(), 1u);
}

TEST_F(DownloadListTest, EmptyLastEntryIsSkipped) {
  ASSERT_EQ(Build(u"full/a.exe:"), 0);
  ASSERT_EQ(Build(u"full/b.exe:sub/"), 0);
  EXPECT_EQ(DownloadNames, (std::vector<std::u16string>{u"a.exe", u"b.exe"}));
}

}  // namespace
}  // namespace vespar
