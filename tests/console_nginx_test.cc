// vespar-console against nginx: folder listings pre-generated as index.html
// in the publisher's upper-case anchor format, files served by nginx itself
// (ranges, an empty file, a Korean name stored in the wire code page).

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/platform/code_page.h"
#include "tests/console_e2e.h"
#include "tests/support/nginx.h"

namespace vespar {
namespace {

using namespace e2e;

// Bytes that differ at every offset, so a range written at the wrong place
// shows.
std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

TEST(ConsoleNginxTest, DownloadsAServedTreeIntact) {
  static const struct {
    const char* name;
    std::vector<std::string> flags;
  } kCases[] = {
      {"one part a file", {}},
      {"four parts at once", {"--parts", "4"}},
  };
  TempDir temp;
  const fs::path files = temp.path() / "files";
  const fs::path listings = temp.path() / "listings";
  // The downloaded name and where nginx keeps it: the Korean file under its
  // wire-code-page bytes, since the program asks for it in that code page.
  struct Served {
    std::string local;
    std::string stored;
    std::string content;
  };
  const std::vector<Served> served = {
      {"client/big.bin", "client/big.bin", Pattern(3 * 1024 * 1024 + 17, 1)},
      {"client/empty.dat", "client/empty.dat", ""},
      {"client/read me.txt", "client/read me.txt", "read me\r\n"},
      {"client/한글파일.dat", "client/" + ToWire(u"한글파일.dat"), Pattern(5000, 2)},
      {"patch/setup.sh", "patch/setup.sh",
       "#!/bin/sh\necho launched by vespar > launched.txt\n"},
  };
  for (const Served& s : served) WriteFile(files / s.stored, s.content);
  WriteFile(files / "client" / "sub" / "deep.dat", "not listed");
  WriteFile(listings / "client" / "index.html",
            "<html><head><title>/client/</title></head><body><H1>/client/</H1><hr><pre>"
            "<A HREF=\"/\">[To Parent Directory]</A><br><br>"
            "  1/2/2026  9:00 AM    &lt;dir&gt; <A HREF=\"/client/sub/\">sub</A><br>"
            "  1/2/2026  9:00 AM    3145745 <A HREF=\"/client/big.bin\">big.bin</A><br>"
            "  1/2/2026  9:00 AM          0 <A HREF=\"/client/empty.dat\">empty.dat</A><br>"
            "  1/2/2026  9:00 AM          9 <A HREF=\"/client/read%20me.txt\">read me.txt</A><br>"
            "  1/2/2026  9:00 AM       5000 "
            "<A HREF=\"/client/%ED%95%9C%EA%B8%80%ED%8C%8C%EC%9D%BC.dat\">kor</A><br>"
            "</pre><hr></body></html>");

  testing::NginxServer nginx(files.string());
  nginx.SetServerDirectives("    location ~ /$ { root " + listings.string() +
                            "; try_files ${uri}index.html =404; }\n");
  std::string error;
  ASSERT_TRUE(nginx.Start(&error)) << error;
  const std::string base = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/";
  WriteFile(files / "vespar.ini", "r\r\n" + base + "\r\nclient/*.*:patch/setup.sh\r\nsetup.sh\r\n");

  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = temp.path() / c.name;
    std::vector<std::string> args = {"--config-url", base + "vespar.ini", "--folder",
                                     folder.string(), "--overwrite", "yes"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    RunResult run = RunConsole(temp.path() / "home", args);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");

    ASSERT_TRUE(WaitForFile(folder / "launched.txt")) << run.out;
    EXPECT_EQ(ReadFile(folder / "launched.txt"), "launched by vespar\n");
    std::vector<std::string> expected = {"launched.txt"};
    for (const Served& s : served) {
      SCOPED_TRACE(s.local);
      expected.push_back(s.local);
      EXPECT_EQ(Sha256Of(folder / s.local), Sha256Of(files / s.stored));
      EXPECT_EQ(fs::file_size(folder / s.local), s.content.size());
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(folder), expected);
    EXPECT_TRUE(PartFilesBelow(folder).empty());
  }
}

}  // namespace
}  // namespace vespar
