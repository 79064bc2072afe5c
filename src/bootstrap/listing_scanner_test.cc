#include "src/bootstrap/listing_scanner.h"

#include <gtest/gtest.h>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

std::string Joined(const std::vector<std::string>& links) {
  std::string out;
  for (const std::string& l : links) out += "[" + l + "]";
  return out;
}

TEST(ListingScannerTest, FindsUpperCaseAnchorsInOrder) {
  static const struct {
    const char* body;
    const char* links;
  } kCases[] = {
      {"<A HREF=\"/full/\">[To Parent Directory]</A><br>"
       "<A HREF=\"/full/client/a.exe\">a.exe</A><A HREF=\"/full/client/sub/\">sub</A>",
       "[/full/][/full/client/a.exe][/full/client/sub/]"},
      // Lower-case or differently spaced anchors are not the server's format.
      {"<a href=\"/x/a\">a</a><A href=\"/x/b\">b</A><A HREF='/x/c'>c</A>", ""},
      {"<A HREF=\"/x/a\">", "[/x/a]"},
      // An opener without a closer ends the scan.
      {"<A HREF=\"/x/a\">a</A><A HREF=\"/x/b", "[/x/a]"},
      // A link runs to the next closer, even across a second opener.
      {"<A HREF=\"/x/a<A HREF=\"/x/b\">", "[/x/a<A HREF=\"/x/b]"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(Joined(ScanListingLinks(c.body)), c.links);
  }
}

TEST(ListingScannerTest, FileNameOfLink) {
  static const struct {
    const char* link;
    bool followed;
    std::u16string_view name;
  } kCases[] = {
      {"/full/client/setup.exe", true, u"setup.exe"},
      {"/full/client/a%20b.dat", true, u"a b.dat"},
      {"/full/client/a+b.dat", true, u"a b.dat"},
      {"/full/client/%ED%95%9C%EA%B8%80.txt", true, u"한글.txt"},
      {"/full/client/100%.txt", true, u"100%.txt"},
      // Decoding can make a name that must be refused later.
      {"/full/client/..%2Fx", true, u"../x"},
      {"/full/client/%2E%2E", true, u".."},
      {"/full/client/sub/", false, u""},
      {"/full/", false, u""},
      {"setup.exe", false, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.link);
    std::optional<std::u16string> name = LinkFileName(c.link);
    ASSERT_EQ(name.has_value(), c.followed);
    if (c.followed) {
      EXPECT_EQ(*name, c.name);
    }
  }
}

}  // namespace
}  // namespace vespar
