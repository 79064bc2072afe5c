#include "tools/demo-server/demo_tree.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/raw_client.h"
#include "tests/support/test_server.h"
#include "tools/demo-server/demo_serving.h"

namespace vespar::demo {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PercentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Percent-encodes a request target the way the downloader does: letters,
// digits and ". / - _ : ( )" stay, every other byte becomes %XX.
std::string EncodeTarget(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c < 0x80 && std::isalnum(c)) || std::string_view("./-_:()").find(ch) != std::string_view::npos) {
      out.push_back(ch);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

TEST(DemoTreeTest, DeterministicAndShapedAsDescribed) {
  DemoTree a = BuildDemoTree(DemoOptions{"127.0.0.1", 8080, 1.0});
  DemoTree b = BuildDemoTree(DemoOptions{"127.0.0.1", 8080, 1.0});
  ASSERT_EQ(a.files.size(), b.files.size());
  for (size_t i = 0; i < a.files.size(); ++i) {
    SCOPED_TRACE(a.files[i].link_path);
    EXPECT_EQ(a.files[i].server_path, b.files[i].server_path);
    EXPECT_TRUE(a.files[i].content == b.files[i].content);
  }

  EXPECT_EQ(a.files[0].server_path, "/vespar.ini");
  EXPECT_EQ(a.files[0].content,
            "r\r\nhttp://127.0.0.1:8080/\r\nclient/*.*:patch/readme.txt:patch/setup.sh\r\n"
            "setup.sh\r\n");

  const DemoFile* korean = nullptr;
  const DemoFile* large = nullptr;
  std::set<std::string> distinct_contents;
  for (const DemoFile& f : a.files) {
    if (f.link_path.find("\xED\x95\x9C") != std::string::npos) korean = &f;
    if (f.link_path == "/client/large.bin") large = &f;
    distinct_contents.insert(f.content);
  }
  EXPECT_EQ(distinct_contents.size(), a.files.size()) << "two files share their bytes";
  ASSERT_NE(korean, nullptr);
  EXPECT_EQ(korean->server_path, "/client/\xC7\xD1\xB1\xDB\xC6\xC4\xC0\xCF.dat");
  EXPECT_EQ(korean->local_path, korean->link_path.substr(1));
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(static_cast<int64_t>(large->content.size()), kLargeFileBaseSize);

  DemoTree small = BuildDemoTree(DemoOptions{"127.0.0.1", 8080, 0.5});
  for (const DemoFile& f : small.files) {
    if (f.link_path == "/client/large.bin") {
      EXPECT_EQ(static_cast<int64_t>(f.content.size()), (kLargeFileBaseSize + 1) / 2);
    }
  }
}

TEST(DemoTreeTest, Cp949ConversionReplacesWhatTheCodePageLacks) {
  static const struct {
    const char* utf8;
    const char* cp949;
  } kCases[] = {
      {"abc", "abc"},
      {"\xED\x95\x9C", "\xC7\xD1"},   // 한
      {"\xF0\x9F\x98\x80x", "?x"},    // an emoji CP949 lacks
      {"\xFFy", "?y"},                // broken UTF-8
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToCp949(c.utf8), c.cp949);
  }
}

// Walks the tree the way the downloader does: configuration, folder listing,
// then HEAD and ranged GET of every entry with the wire-code-page targets.
TEST(DemoTreeTest, ServedTreeAnswersTheDownloadersRequests) {
  testing::TestServer server;
  ASSERT_TRUE(server.Start());
  const std::string port = std::to_string(server.port());
  DemoTree tree = BuildDemoTree(DemoOptions{"127.0.0.1", server.port(), 0.05});
  ServeDemoTree(tree, &server);

  testing::RawResponse config = testing::Exchange(
      "127.0.0.1", server.port(),
      "GET /vespar.ini?Thu%20Jan%20%201%2000:00:00%201970%0A HTTP/1.0\r\nUser-Agent: Download\r\n\r\n");
  ASSERT_EQ(config.Body(), DemoConfiguration("127.0.0.1", server.port()));

  testing::RawResponse listing = testing::Exchange(
      "127.0.0.1", server.port(), "GET /client/ HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
  ASSERT_EQ(listing.Field("Content-Length"), std::to_string(listing.Body().size()));
  std::set<std::string> fetched;  // local paths, as the download list names them
  const std::string body = listing.Body();
  const std::string opener = "<A HREF=\"";
  for (size_t at = body.find(opener); at != std::string::npos; at = body.find(opener, at)) {
    at += opener.size();
    std::string link = body.substr(at, body.find("\">", at) - at);
    if (link.empty() || link.back() == '/') continue;
    fetched.insert("client/" + PercentDecode(link.substr(link.rfind('/') + 1)));
  }
  fetched.insert("patch/readme.txt");
  fetched.insert("patch/setup.sh");

  std::set<std::string> expected;
  for (const DemoFile& f : tree.files) {
    if (!f.local_path.empty()) expected.insert(f.local_path);
  }
  EXPECT_EQ(fetched, expected);

  for (const DemoFile& f : tree.files) {
    if (f.local_path.empty()) continue;
    SCOPED_TRACE(f.local_path);
    const std::string target =
        EncodeTarget("http://127.0.0.1:" + port + "/" + Utf8ToCp949("/" + f.local_path));
    testing::RawResponse head =
        testing::Exchange("127.0.0.1", server.port(), "HEAD " + target + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(head.Head().substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(head.Field("Content-Length"), std::to_string(f.content.size()));

    const size_t first = f.content.size() / 3;
    testing::RawResponse part = testing::Exchange(
        "127.0.0.1", server.port(),
        "GET " + target + " HTTP/1.0\r\nUser-Agent:\r\nRange: bytes=" + std::to_string(first) +
            "-" + std::to_string(f.content.size() - 1) + "\r\n\r\n");
    EXPECT_TRUE(part.Body() == f.content.substr(first));
  }
}

}  // namespace
}  // namespace vespar::demo
