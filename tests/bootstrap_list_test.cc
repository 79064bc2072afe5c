// vespar-console --list end to end: the real binary against the demo server,
// the in-process test server and nginx serving pre-generated listings.

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/net/connection.h"
#include "src/net/head_probe.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "tests/console_e2e.h"
#include "tests/support/nginx.h"
#include "tests/support/test_server.h"

namespace vespar {
namespace {

namespace fs = std::filesystem;
using e2e::FilesBelow;
using e2e::ReadFile;
using e2e::RunConsole;
using e2e::RunResult;
using e2e::TempDir;
using e2e::WriteFile;
using testing::TestServer;

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// "http://127.0.0.1:PORT/" of the demo server's configuration URL.
std::string BaseOf(const std::string& config_url) {
  return config_url.substr(0, config_url.rfind('/') + 1);
}

std::vector<std::string> DemoList(const std::string& base) {
  // The demo configuration lists client/*.* (files in the order the listing
  // links them; its sub-folder is not followed) and two single files.
  return {base + "/client/large.bin",      base + "/client/medium.bin",
          base + "/client/read me.txt",    base + "/client/small.dat",
          base + "/client/한글파일.dat", base + "patch/readme.txt",
          base + "patch/setup.sh"};
}

TEST(BootstrapListTest, ListsTheDemoTree) {
  TempDir temp;
  e2e::DemoServer demo(temp.path() / "server-home", temp.path() / "dump");
  ASSERT_FALSE(demo.config_url().empty());
  const std::string expected = Lines(DemoList(BaseOf(demo.config_url())));

  RunResult flag = RunConsole(temp.path() / "a", {"--list", "--config-url", demo.config_url()});
  EXPECT_EQ(flag.status, 0) << flag.err;
  EXPECT_EQ(flag.out, expected);
  EXPECT_EQ(flag.err, "");

  RunResult env = RunConsole(temp.path() / "b", {"--list"}, {{"VESPAR_CONFIG_URL", demo.config_url()}});
  EXPECT_EQ(env.status, 0) << env.err;
  EXPECT_EQ(env.out, expected);

  // The flag wins over the environment.
  RunResult both = RunConsole(temp.path() / "c", {"--list", "--config-url", demo.config_url()},
                              {{"VESPAR_CONFIG_URL", "http://127.0.0.1:1/vespar.ini"}});
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out, expected);
}

TEST(BootstrapListTest, UnreachableConfigurationIsOneLineAndAFailure) {
  TempDir temp;
  TestServer closed;
  ASSERT_TRUE(closed.Start());
  const std::string url = closed.Url("/vespar.ini");
  closed.Stop();
  RunResult run = RunConsole(temp.path(), {"--list", "--config-url", url});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "DownList Failed: 통신 실패 : 12007  네트워크 환경을 확인바랍니다.\n");
}

TEST(BootstrapListTest, ErrorStatusOfTheConfigurationIsShown) {
  TempDir temp;
  TestServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("/vespar.ini", "r\nhttp://h/\na.exe\n");
  testing::Fault fault;
  fault.status = 503;
  server.SetFault("/vespar.ini", fault);
  RunResult run = RunConsole(temp.path(), {"--list", "--config-url", server.Url("/vespar.ini")});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "DownList Failed: 통신 실패 : 503  네트워크 환경을 확인바랍니다.\n");
}

TEST(BootstrapListTest, UnsafeListingIsRefusedAndNothingIsWritten) {
  TempDir temp;
  TestServer server;
  ASSERT_TRUE(server.Start());
  server.AddFile("/vespar.ini", "r\r\n" + server.Url("/") + "\r\nclient/*.*\r\n\r\n");
  server.AddFile("/client/", "<A HREF=\"/client/good.dat\">good</A>"
                             "<A HREF=\"/client/..%2F..%2F.bashrc\">evil</A>");
  const fs::path home = temp.path() / "home";
  RunResult run = RunConsole(home, {"--list", "--config-url", server.Url("/vespar.ini")});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Failed...: Invalid file name ../../.bashrc- folder download\n");
  EXPECT_EQ(FilesBelow(home), std::vector<std::string>{});
  // Only the configuration and the listing were asked for.
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(BootstrapListTest, HelpAndBadFlags) {
  TempDir temp;
  RunResult help = RunConsole(temp.path(), {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--config-url URL"), std::string::npos);
  RunResult bad = RunConsole(temp.path(), {"--parts", "9"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "");
  EXPECT_NE(bad.err.find("--parts"), std::string::npos);
}

// The content size the HEAD probe reports for `url`, or -1.
int64_t ProbeSize(const std::string& url) {
  const std::u16string url16 = FromUtf8(url);
  const std::u16string host = GetUrlHost(url16);
  Connection c;
  uint32_t address = 0;
  if (OpenSocket(c) != 0 || ResolveHost(host, &address) != 1 ||
      ConnectTimeout(c, GetUrlPort(host), address, 5000) != 0) {
    return -1;
  }
  int64_t size = HeadProbe(c, url16);
  return c.status == 200 ? size : -1;
}

TEST(BootstrapListTest, ListsFoldersServedByNginx) {
  TempDir temp;
  const fs::path files = temp.path() / "files";
  const fs::path listings = temp.path() / "listings";
  // nginx looks files up by the request's bytes, and the program asks in the
  // wire code page: the Korean file is stored under its CP949 name while
  // the listing links the UTF-8 name, as the publisher's server does.
  const std::string korean = ToWire(u"한글파일.dat");
  WriteFile(files / "client" / "a.dat", std::string(1000, 'a'));
  WriteFile(files / "client" / "read me.txt", "read me");
  WriteFile(files / "client" / korean, std::string(3000, 'k'));
  WriteFile(files / "client" / "sub" / "deep.dat", "deep");
  WriteFile(files / "patch" / "setup.sh", "#!/bin/sh\n");
  WriteFile(listings / "client" / "index.html",
            "<html><body><pre>"
            "<A HREF=\"/\">[To Parent Directory]</A><br>"
            "<A HREF=\"/client/sub/\">sub</A><br>"
            "<A HREF=\"/client/a.dat\">a.dat</A><br>"
            "<A HREF=\"/client/read%20me.txt\">read me.txt</A><br>"
            "<A HREF=\"/client/%ED%95%9C%EA%B8%80%ED%8C%8C%EC%9D%BC.dat\">kor</A><br>"
            "</pre></body></html>");

  testing::NginxServer nginx(files.string());
  nginx.SetServerDirectives("    location ~ /$ { root " + listings.string() +
                            "; try_files ${uri}index.html =404; }\n");
  std::string error;
  ASSERT_TRUE(nginx.Start(&error)) << error;
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/";
  WriteFile(files / "vespar.ini",
            "r\r\n" + base + "\r\nclient/*.*:patch/setup.sh\r\nsetup.sh\r\n");

  RunResult run = RunConsole(temp.path() / "home", {"--list", "--config-url", base + "vespar.ini"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> expected = {
      base + "/client/a.dat", base + "/client/read me.txt", base + "/client/한글파일.dat",
      base + "patch/setup.sh"};
  EXPECT_EQ(run.out, Lines(expected));

  // Every listed URL reaches its file the way the engine will ask for it.
  const int64_t sizes[] = {1000, 7, 3000, 10};
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i]);
    EXPECT_EQ(ProbeSize(expected[i]), sizes[i]);
  }
}

}  // namespace
}  // namespace vespar
