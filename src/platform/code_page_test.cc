#include "src/platform/code_page.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vespar {
namespace {

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    out += ' ';
  }
  return out;
}

std::string Units(std::u16string_view text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char16_t c : text) {
    for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 15];
    out += ' ';
  }
  return out;
}

TEST(CodePageTest, ToWire) {
  static const struct {
    std::u16string text;
    std::string expected;
  } kCases[] = {
      {u"", ""},
      {u"GET http://host/a b", "GET http://host/a b"},
      {u"\uAC00\uAC01\uD7A3", "\xB0\xA1\xB0\xA2\xC6\x52"},
      {u"\uB620", "\x8C\x63"},  // a syllable only the extended table has
      {u"/\uAD6C/x", "/\xB1\xB8/x"},
      // Characters the code page lacks become "?" and the rest goes on.
      {u"a\u00A2b", "a?b"},
      {u"a\U0001F600b", "a?b"},  // a pair is one character: one "?"
      {u"\U0001F600\U0001F600", "??"},
      // Lone surrogates, anywhere.
      {std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b"},
      {std::u16string(u"a") + char16_t(0xDC00), "a?"},
      {std::u16string(1, char16_t(0xD83D)), "?"},
      {std::u16string(u"\uAC00") + char16_t(0xDBFF) + char16_t(0xDBFF) +
           u"\uAC00",
       "\xB0\xA1??\xB0\xA1"},
      {std::u16string(u"x\0y", 3), std::string("x\0y", 3)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Units(c.text));
    EXPECT_EQ(Hex(c.expected), Hex(ToWire(c.text)));
  }
}

TEST(CodePageTest, FromWire) {
  static const struct {
    std::string bytes;
    std::u16string expected;
  } kCases[] = {
      {"", u""},
      {"vespar.ini", u"vespar.ini"},
      {"\xB0\xA1\xB0\xA2\xC6\x52", u"\uAC00\uAC01\uD7A3"},
      {"\x8C\x63", u"\uB620"},
      // An invalid byte becomes "?" and the conversion goes on after it.
      {"\xFF" "A", u"?A"},
      {"\xB0\xA1\xFF\x80" "A", u"\uAC00??A"},
      // A lead byte cut off at the end.
      {"A\xB0", u"A?"},
      {std::string("\0\xB0\xA1", 3), std::u16string(u"\0\uAC00", 2)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Hex(c.bytes));
    EXPECT_EQ(Units(c.expected), Units(FromWire(c.bytes)));
  }
}

TEST(CodePageTest, WireRoundTripOfLongText) {
  // Long enough that the output buffer has to grow more than once.
  std::u16string text;
  for (int i = 0; i < 5000; ++i) text += u"\uAC00a\uD7A3/";
  std::string wire = ToWire(text);
  EXPECT_EQ(5000u * 6, wire.size());
  EXPECT_EQ(text, FromWire(wire));
}

TEST(CodePageTest, Utf8) {
  static const struct {
    std::u16string text;
    std::string utf8;
  } kCases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {u"\u00E9", "\xC3\xA9"},
      {u"\uAC00", "\xEA\xB0\x80"},
      {u"\uFFFF", "\xEF\xBF\xBF"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Hex(c.utf8));
    EXPECT_EQ(Hex(c.utf8), Hex(ToUtf8(c.text)));
    EXPECT_EQ(Units(c.text), Units(FromUtf8(c.utf8)));
  }
}

TEST(CodePageTest, ToUtf8ReplacesLoneSurrogates) {
  static const struct {
    std::u16string text;
    std::string expected;
  } kCases[] = {
      {std::u16string(1, char16_t(0xD800)), "?"},
      {std::u16string(1, char16_t(0xDFFF)), "?"},
      {std::u16string(u"a") + char16_t(0xDC00) + char16_t(0xD800), "a??"},
      {std::u16string(1, char16_t(0xD83D)) + u"\U0001F600", "?\xF0\x9F\x98\x80"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Units(c.text));
    EXPECT_EQ(c.expected, ToUtf8(c.text));
  }
}

TEST(CodePageTest, FromUtf8ReplacesInvalidSequences) {
  static const struct {
    std::string bytes;
    std::u16string expected;
  } kCases[] = {
      {"\x80", u"?"},                      // stray continuation
      {"a\xBF\xBF" "b", u"a??b"},
      {"\xC0\xAF", u"??"},                 // overlong "/"
      {"\xE0\x80\xAF", u"???"},            // overlong, three bytes
      {"\xF0\x8F\xBF\xBF", u"????"},       // overlong, four bytes
      {"\xED\xA0\x80", u"???"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"????"},       // above U+10FFFF
      {"\xF5\x80", u"??"},
      {"\xFF\xFE", u"??"},
      {"\xE4\xB8", u"?"},                  // truncated at the end
      {"\xE4\xB8" "A", u"?A"},             // truncated before ASCII
      {"\xF0\x9F\x98", u"?"},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", u"?\U0001F600"},
      {"\xC3", u"?"},
      {"\xC3\xC3\xA9", u"?\u00E9"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Hex(c.bytes));
    EXPECT_EQ(Units(c.expected), Units(FromUtf8(c.bytes)));
  }
}

TEST(CodePageTest, RandomBytesNeverBreakTheConverters) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 24, '\0');
    for (char& b : bytes) b = static_cast<char>(rng());
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>((bytes[2 * i] << 8) | (bytes[2 * i + 1] & 0xFF));
    // Whatever comes in, what comes out converts back and forth unchanged.
    std::u16string from_utf8 = FromUtf8(bytes);
    EXPECT_EQ(from_utf8, FromUtf8(ToUtf8(from_utf8)));
    std::u16string from_wire = FromWire(bytes);
    EXPECT_EQ(from_wire, FromUtf8(ToUtf8(from_wire)));
    std::string wire = ToWire(units);
    EXPECT_LE(wire.size(), units.size() * 2);
    EXPECT_EQ(wire, ToWire(FromWire(wire)));
  }
}

}  // namespace
}  // namespace vespar
