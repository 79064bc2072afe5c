// The HEAD probe against nginx, a real server the program never saw.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "src/net/connection.h"
#include "src/net/head_probe.h"
#include "src/platform/code_page.h"
#include "tests/support/nginx.h"

namespace vespar {
namespace {

namespace fs = std::filesystem;

class NginxHeadProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vespar-www-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    WriteFile("file.bin", 123457);
    WriteFile("empty.bin", 0);
    fs::create_directories(root_ / "dir");
    WriteFile("dir/with blank+plus.txt", 4096);
    // The program sends names in the wire code page, so that is how they are
    // stored on a server: "게임" as CP949 bytes.
    WriteFile(ToWire(u"게임.zip"), 777);
    nginx_ = std::make_unique<testing::NginxServer>(root_.string());
    std::string error;
    ASSERT_TRUE(nginx_->Start(&error)) << error;
  }
  void TearDown() override {
    nginx_.reset();
    fs::remove_all(root_);
  }

  void WriteFile(const std::string& name, size_t size) {
    std::ofstream out(root_ / name, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>('a' + i % 26));
  }

  std::string Base() const {
    return "http://127.0.0.1:" + std::to_string(nginx_->port());
  }

  fs::path root_;
  std::unique_ptr<testing::NginxServer> nginx_;
};

TEST_F(NginxHeadProbeTest, ProbesSizesAndStatusesWithAbsoluteFormRequests) {
  static const struct {
    const char16_t* path;
    int64_t size;
    int16_t status;
    const char* requestTarget;  // after the host, as nginx logged it
  } kCases[] = {
      {u"/file.bin", 123457, 200, "/file.bin"},
      {u"/missing.bin", 0, 404, "/missing.bin"},
      {u"/empty.bin", 0, 200, "/empty.bin"},
      {u"/dir/with blank+plus.txt", 4096, 200, "/dir/with%20blank%2Bplus.txt"},
      {u"/게임.zip", 777, 200, "/%B0%D4%C0%D3.zip"},
      // A folder without its "/" is redirected; the probe does not follow.
      {u"/dir", 0, 301, "/dir"},
  };
  size_t probes = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.path));
    std::u16string url = FromUtf8(Base()) + c.path;
    Connection conn;
    ASSERT_EQ(OpenSocket(conn), 0);
    ASSERT_EQ(ConnectTimeout(conn, nginx_->port(), htonl(INADDR_LOOPBACK), 5000), 0);
    EXPECT_EQ(HeadProbe(conn, url), c.size);
    EXPECT_EQ(conn.status, c.status);
    EXPECT_EQ(conn.lastError, 0);
    // nginx ends an HTTP/1.0 exchange with "Connection: close"; the probe
    // closes its side when the answer was a 200 with a length.
    if (c.status == 200) {
      EXPECT_EQ(conn.socket, -1);
    }
    ++probes;

    std::vector<std::string> lines = nginx_->WaitForRequests(probes);
    ASSERT_EQ(lines.size(), probes);
    EXPECT_EQ(lines.back(), "HEAD " + Base() + c.requestTarget + " HTTP/1.0");
  }
}

}  // namespace
}  // namespace vespar
