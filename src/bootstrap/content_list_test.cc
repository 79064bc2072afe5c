#include "src/bootstrap/content_list.h"

#include <gtest/gtest.h>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

std::string Describe(const ContentList& list) {
  std::string out = ToUtf8(list.base);
  for (const ContentEntry& e : list.entries) out += " [" + ToUtf8(e.folder) + "|" + ToUtf8(e.name) + "]";
  return out;
}

TEST(ContentListTest, SplitsBaseAndEntries) {
  static const struct {
    std::u16string_view url;
    const char* expected;
  } kCases[] = {
      {u"http://h/full/client/*.*", "http://h/ [full/client/|*.*]"},
      {u"http://h:8080/full/client/*.*:full/patch/setup.exe",
       "http://h:8080/ [full/client/|*.*] [full/patch/|setup.exe]"},
      // A name without a folder keeps the folder of the entry before it.
      {u"http://h/full/patch/a.exe:b.exe", "http://h/ [full/patch/|a.exe] [full/patch/|b.exe]"},
      {u"http://h/a.exe:sub/b.exe:c.exe", "http://h/ [|a.exe] [sub/|b.exe] [sub/|c.exe]"},
      // Empty entries are left out; a folder-only entry still moves the folder.
      {u"http://h/a.exe:", "http://h/ [|a.exe]"},
      {u"http://h/a.exe:full/", "http://h/ [|a.exe]"},
      {u"http://h/full/:a.exe", "http://h/ [full/|a.exe]"},
      {u"http://h/a.exe::b.exe", "http://h/ [|a.exe] [|b.exe]"},
      // The base is removed wherever it occurs.
      {u"http://h/a.exe:http://h/b.exe", "http://h/ [|a.exe] [|b.exe]"},
      // The base keeps piece 0 and piece 2 whatever they are.
      {u"setup.exe", "setup.exe/// [|setup.exe]"},
      {u"http://h", "http://h/ [|http] [//|h]"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.url));
    EXPECT_EQ(Describe(ParseContentList(c.url)), c.expected);
  }
}

}  // namespace
}  // namespace vespar
