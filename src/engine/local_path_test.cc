#include "src/engine/local_path.h"

#include <gtest/gtest.h>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

TEST(LocalPathTest, RelativeFolder) {
  const std::vector<std::u16string> kBases = {u"http://h/", u"http://h/game/"};
  static const struct {
    const char16_t* url;
    const char16_t* flag;
    const char16_t* contentBase;
    bool ok;
    const char16_t* folder;
  } kCases[] = {
      // Without the layout flag "r" every file lies in the download folder.
      {u"http://h/full/client/setup.exe", u"", u"http://h/", true, u""},
      {u"http://h/full/client/setup.exe", u"R", u"http://h/", true, u""},
      // A single-file entry: folder without a leading "/".
      {u"http://h/full/client/setup.exe", u"r", u"http://h/", true, u"full/client/"},
      // A crawled entry puts "//" after the base; runs collapse.
      {u"http://h//full/client/setup.exe", u"r", u"http://h/", true, u"full/client/"},
      // A folder named like its file keeps its name.
      {u"http://h/patch/patch", u"r", u"http://h/", true, u"patch/"},
      {u"http://h/setup/setup.exe/setup.exe", u"r", u"http://h/", true, u"setup/setup.exe/"},
      // The longest listed base that prefixes the URL is removed.
      {u"http://h/game/data/a.pak", u"r", u"http://other/", true, u"data/"},
      // The base occurring again inside the path is left alone.
      {u"http://h/mirror/http:/h/a.pak", u"r", u"http://h/", true, u"mirror/http:/h/"},
      // A URL under no known base: the path after the host.
      {u"http://elsewhere:8080/x/y/z.bin", u"r", u"", true, u"x/y/"},
      {u"http://h/top.bin", u"r", u"http://h/", true, u""},
      // Server text that would leave the download folder is refused.
      {u"http://h/../etc/passwd", u"r", u"http://h/", false, u""},
      {u"http://h/a/./b/c", u"r", u"http://h/", false, u""},
      {u"http://h/a\nb/c", u"r", u"http://h/", false, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.url) + " flag " + ToUtf8(c.flag));
    std::u16string folder = u"stale";
    EXPECT_EQ(RelativeFolderFor(c.url, c.flag, kBases, c.contentBase, &folder), c.ok);
    EXPECT_EQ(folder, c.folder);
  }
}

TEST(LocalPathTest, JoinCollapsesSeparators) {
  static const struct {
    const char16_t* folder;
    const char16_t* relative;
    const char16_t* name;
    const char16_t* path;
  } kCases[] = {
      {u"/home/u/DOWNLOAD/", u"", u"a.bin", u"/home/u/DOWNLOAD/a.bin"},
      {u"/home/u/DOWNLOAD", u"", u"a.bin", u"/home/u/DOWNLOAD/a.bin"},
      {u"/home/u//DOWNLOAD/", u"full/client/", u"a.bin", u"/home/u/DOWNLOAD/full/client/a.bin"},
      {u"/d/", u"/x//y/", u"a", u"/d/x/y/a"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.path));
    EXPECT_EQ(JoinLocalPath(c.folder, c.relative, c.name), c.path);
  }
}

TEST(LocalPathTest, SafeFileNames) {
  static const struct {
    const char16_t* name;
    bool safe;
  } kCases[] = {
      {u"setup.exe", true}, {u"..hidden", true}, {u"한글 이름.txt", true},
      {u"", false},         {u".", false},       {u"..", false},
      {u"a/b", false},      {u"a\tb", false},    {u"a\x7f", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.name));
    EXPECT_EQ(IsSafeFileName(c.name), c.safe);
  }
}

TEST(LocalPathTest, LaunchPathStaysInsideTheDownloadFolder) {
  static const struct {
    const char16_t* relative;
    const char16_t* launch;
    bool ok;
    const char16_t* path;
  } kCases[] = {
      {u"", u"setup.sh", true, u"/d/setup.sh"},
      {u"full/", u"setup.sh", true, u"/d/full/setup.sh"},
      {u"", u"bin/start.sh", true, u"/d/bin/start.sh"},
      {u"", u"bin//start.sh", true, u"/d/bin/start.sh"},
      {u"", u"../outside.sh", false, u""},
      {u"", u"bin/../../x.sh", false, u""},
      {u"", u"/usr/bin/id", false, u""},
      {u"", u"./setup.sh", false, u""},
      {u"", u"bin/", false, u""},
      {u"", u"", false, u""},
      {u"../", u"setup.sh", false, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.launch));
    std::u16string path;
    EXPECT_EQ(LaunchFilePath(u"/d/", c.relative, c.launch, &path), c.ok);
    EXPECT_EQ(path, c.path);
  }
}

}  // namespace
}  // namespace vespar
