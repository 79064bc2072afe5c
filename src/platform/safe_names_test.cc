#include "src/platform/safe_names.h"

#include <gtest/gtest.h>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

TEST(SafeNamesTest, FileNames) {
  static const struct {
    std::u16string_view name;
    bool safe;
  } kCases[] = {
      {u"setup.exe", true},
      {u"a b+c.dat", true},
      {u"한글 파일.bin", true},
      {u"...", true},
      {u".hidden", true},
      {u"", false},
      {u".", false},
      {u"..", false},
      {u"a/b", false},
      {u"/etc", false},
      {u"a\\b", false},
      {u"..\\x", false},
      {std::u16string_view(u"a\0b", 3), false},
      {u"a\tb", false},
      {u"a\nb", false},
      {u"a\x7f", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.name));
    EXPECT_EQ(IsSafeFileName(c.name), c.safe);
  }
}

TEST(SafeNamesTest, RelativePaths) {
  static const struct {
    std::u16string_view path;
    bool safe;
  } kCases[] = {
      {u"", true},
      {u"full/client/", true},
      {u"bin/setup.exe", true},
      {u"a..b/c", true},
      {u"/full/client/", false},
      {u"\\full\\", false},
      {u"C:/Windows/", false},
      {u"c:x", false},
      {u"../up/", false},
      {u"full/../../", false},
      {u"full/./x/", false},
      {u"full\\..\\x", false},
      {u"..", false},
      {u"full/..", false},
      {u"full/\x01/", false},
      {std::u16string_view(u"a\0/", 3), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.path));
    EXPECT_EQ(IsSafeRelativePath(c.path), c.safe);
  }
}

TEST(SafeNamesTest, PrintableNameHidesControlCharacters) {
  EXPECT_EQ(PrintableName(u"a\nb\x7f c"), u"a?b? c");
  EXPECT_EQ(PrintableName(u"한글"), u"한글");
}

}  // namespace
}  // namespace vespar
