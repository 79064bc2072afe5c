#include "src/platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vespar {
namespace {

TEST(TextTest, FindNoCase) {
  static const struct {
    std::u16string_view haystack, needle;
    size_t from;
    size_t expected;
  } kCases[] = {
      {u"Content-Length: 5", u"content-length", 0, 0},
      {u"x: 1\r\nCONTENT-length: 5", u"content-length:", 0, 6},
      {u"abcABC", u"abc", 1, 3},
      {u"abcABC", u"abc", 6, std::u16string_view::npos},
      {u"abc", u"abc", 7, std::u16string_view::npos},  // from past the end
      {u"ab", u"abc", 0, std::u16string_view::npos},
      {u"abc", u"", 2, 2},
      // Only ASCII letters fold: "[" and "{" differ from each other, as do
      // A-with-grave and a-with-grave.
      {u"{", u"[", 0, std::u16string_view::npos},
      {u"\u00C0", u"\u00E0", 0, std::u16string_view::npos},
      {u"HTTP://\uAC00", u"http://\uAC00", 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.haystack.begin(), c.haystack.end()) + " / " +
                 std::string(c.needle.begin(), c.needle.end()));
    EXPECT_EQ(c.expected, FindNoCase(c.haystack, c.needle, c.from));
  }
}

TEST(TextTest, ToLowerAsciiLeavesOtherUnitsAlone) {
  EXPECT_EQ(u"http://host.example/\u00C0\uAC00z[@",
            ToLowerAscii(u"HTTP://Host.EXAMPLE/\u00C0\uAC00Z[@"));
  EXPECT_EQ("abc-\xC3\x80z", ToLowerAscii("ABC-\xC3\x80Z"));
}

TEST(TextTest, FieldOf) {
  static const struct {
    const char16_t* text;
    char16_t separator;
    size_t index;
    const char16_t* field;
  } kCases[] = {
      {u"http://h:80/p/q", u'/', 0, u"http:"}, {u"http://h:80/p/q", u'/', 1, u""},
      {u"http://h:80/p/q", u'/', 2, u"h:80"},  {u"http://h:80/p/q", u'/', 4, u"q"},
      {u"http://h:80/p/q", u'/', 5, u""},      {u"a\nb\n", u'\n', 1, u"b"},
      {u"a\nb\n", u'\n', 2, u""},             {u"", u'/', 0, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(FieldOf(c.text, c.separator, c.index), std::u16string_view(c.field));
  }
}

TEST(TextTest, ReplaceAll) {
  static const struct {
    std::string text, from, to;
    std::string expected;
    size_t count;
  } kCases[] = {
      {"a.b.c", ".", "/", "a/b/c", 2},
      {"aaa", "aa", "b", "ba", 1},        // no overlapping matches
      {"aaa", "a", "aa", "aaaaaa", 3},    // replaced text is not re-read
      {"host/x/host", "host", "1.2.3.4", "1.2.3.4/x/1.2.3.4", 2},
      {"none", "x", "y", "none", 0},
      {"abc", "", "y", "abc", 0},         // empty pattern changes nothing
      {"", "a", "b", "", 0},
      {"Host", "host", "x", "Host", 0},   // case-sensitive
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text + " " + c.from + " -> " + c.to);
    std::string s = c.text;
    EXPECT_EQ(c.count, ReplaceAll(s, c.from, c.to));
    EXPECT_EQ(c.expected, s);
    std::u16string u = AsciiToU16(c.text);
    EXPECT_EQ(c.count, ReplaceAll(u, AsciiToU16(c.from), AsciiToU16(c.to)));
    EXPECT_EQ(AsciiToU16(c.expected), u);
  }
}

TEST(TextTest, ReplaceAllNoCase) {
  std::u16string s = u"HTTP://a/http://b/Http:/c";
  EXPECT_EQ(2u, ReplaceAllNoCase(s, u"http://", u""));
  EXPECT_EQ(u"a/b/Http:/c", s);
  std::u16string t = u"xXx";
  EXPECT_EQ(3u, ReplaceAllNoCase(t, u"x", u"xx"));
  EXPECT_EQ(u"xxxxxx", t);
}

TEST(TextTest, AtoIFollowsCLibraryRulesAndSaturates) {
  static const struct {
    const char* text;
    int32_t expected32;
    int64_t expected64;
  } kCases[] = {
      {"0", 0, 0},
      {"42", 42, 42},
      {"  \t\r\n\v\f17xyz", 17, 17},
      {"+8", 8, 8},
      {"-8", -8, -8},
      {"- 8", 0, 0},
      {"--8", 0, 0},
      {"+-8", 0, 0},
      {"", 0, 0},
      {"abc", 0, 0},
      {"12 34", 12, 12},
      {"0012", 12, 12},
      {"2147483647", INT32_MAX, 2147483647LL},
      {"2147483648", INT32_MAX, 2147483648LL},
      {"-2147483648", INT32_MIN, -2147483648LL},
      {"-2147483649", INT32_MIN, -2147483649LL},
      {"9223372036854775807", INT32_MAX, INT64_MAX},
      {"9223372036854775808", INT32_MAX, INT64_MAX},
      {"-9223372036854775808", INT32_MIN, INT64_MIN},
      {"-9223372036854775809", INT32_MIN, INT64_MIN},
      {"99999999999999999999999", INT32_MAX, INT64_MAX},
      {"-99999999999999999999999", INT32_MIN, INT64_MIN},
      {"5368709120", INT32_MAX, 5368709120LL},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.expected32, AtoI(std::string_view(c.text)));
    EXPECT_EQ(c.expected64, AtoI64(std::string_view(c.text)));
    std::u16string u = AsciiToU16(c.text);
    EXPECT_EQ(c.expected32, AtoI(std::u16string_view(u)));
    EXPECT_EQ(c.expected64, AtoI64(std::u16string_view(u)));
  }
}

TEST(TextTest, AtoIStopsAtNonAsciiDigits) {
  // Full-width digits and NUL are not decimal digits.
  EXPECT_EQ(1, AtoI(std::u16string_view(u"1\uFF12")));
  EXPECT_EQ(3, AtoI64(std::string_view("3\0" "4", 3)));
}

TEST(TextTest, TrimSpace) {
  static const struct {
    std::u16string_view text, expected;
  } kCases[] = {
      {u"  a b \r\n", u"a b"},
      {u"\t\r\n", u""},
      {u"", u""},
      {u"x", u"x"},
      {u"\u3000x\u3000", u"\u3000x\u3000"},  // ideographic space stays
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(c.expected, TrimSpace(c.text));
  }
}

TEST(TextTest, AsciiToU16KeepsByteValues) {
  EXPECT_EQ(std::u16string(u"a\u00FF\u0080"), AsciiToU16("a\xFF\x80"));
}

}  // namespace
}  // namespace vespar
