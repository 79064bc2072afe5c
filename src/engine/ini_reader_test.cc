#include "src/engine/ini_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace vespar {
namespace {

TEST(IniReaderTest, Lookups) {
  const std::string text =
      "stray=before any section\r\n"
      "[Header]\r\n"
      "GUID=Vespar Downloader\r\n"
      "Empty=\r\n"
      "  Padded Key\t=value kept as it stands  \r\n"
      "Url=http://h/a=b?c=d\r\n"
      "no equals sign here\r\n"
      "Dup=first\r\n"
      "dup=second\r\n"
      "[ FILE_0000 ]\n"  // LF alone ends a line too
      "partindex=7\n"
      "[header]\r\n"     // a repeated section is ignored as a whole
      "Later=never seen\r\n"
      "[Last]\r\n"
      "tail=no line end";
  IniReader ini(text);
  static const struct {
    const char* section;
    const char* key;
    const char* expected;
  } kCases[] = {
      {"HEADER", "guid", "Vespar Downloader"},
      {"header", "Empty", ""},
      {"Header", "padded key", "value kept as it stands  "},
      {"Header", "URL", "http://h/a=b?c=d"},
      {"Header", "Dup", "first"},
      {"Header", "Later", "<default>"},
      {"Header", "stray", "<default>"},
      {"Header", "no equals sign here", "<default>"},
      {"file_0000", "PARTINDEX", "7"},
      {"FILE_0001", "PARTINDEX", "<default>"},
      {"Last", "tail", "no line end"},
      {"Missing", "GUID", "<default>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(c.expected, ini.Get(c.section, c.key, "<default>"));
  }
  EXPECT_TRUE(ini.Has("header", "EMPTY"));
  EXPECT_FALSE(ini.Has("header", "absent"));
  std::vector<std::string_view> names = ini.SectionNames();
  ASSERT_EQ(3u, names.size());
  EXPECT_EQ("Header", names[0]);
  EXPECT_EQ("FILE_0000", names[1]);
  EXPECT_EQ("Last", names[2]);
}

TEST(IniReaderTest, OddInputIsHarmless) {
  static const struct {
    const char* name;
    std::string text;
  } kCases[] = {
      {"empty", ""},
      {"unclosed section", "[abc\r\nkey=1\r\n"},
      {"nul bytes", std::string("[a\0]\r\nk\0=v\r\n", 12)},
      {"only brackets", "[]\r\n=\r\n[\r\n]\r\n"},
      {"lone CRs", "\r\r\r[x]\rkey=1\r"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IniReader ini(c.text);
    EXPECT_EQ("d", ini.Get("x", "key", "d"));
  }
  // An empty section name and an empty key are names like any other.
  IniReader ini("[]\r\n=v\r\n");
  EXPECT_EQ("v", ini.Get("", "", "d"));
}

}  // namespace
}  // namespace vespar
