#include "src/engine/file_naming.h"

#include <gtest/gtest.h>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

TEST(FileNamingTest, FileNameFromUrl) {
  static const struct {
    const char16_t* url;
    const char16_t* name;
  } kCases[] = {
      {u"http://h/full/client/setup.exe", u"setup.exe"},
      {u"http://h//full/client/a b.dat", u"a b.dat"},
      {u"http://h/folder/", u""},
      {u"no-slash-at-all", u""},
      {u"", u""},
      {u"http://h/한글.txt", u"한글.txt"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.url));
    EXPECT_EQ(FileNameFromUrl(c.url), c.name);
  }
}

TEST(FileNamingTest, NumberedNames) {
  static const struct {
    const char16_t* name;
    int n;
    const char16_t* numbered;
  } kCases[] = {
      {u"setup.exe", 1, u"setup(1).exe"},
      {u"setup.exe", 12, u"setup(12).exe"},
      {u"a.tar.gz", 1, u"a.tar(1).gz"},    // only the last "." separates
      {u"README", 2, u"README(2)"},        // no extension
      {u".profile", 1, u".profile(1)"},    // a leading "." is no extension
      {u".config.ini", 1, u".config(1).ini"},
      {u"trailing.", 1, u"trailing(1)."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.name));
    EXPECT_EQ(NumberedFileName(c.name, c.n), c.numbered);
  }
}

}  // namespace
}  // namespace vespar
