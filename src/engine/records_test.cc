#include "src/engine/records.h"

#include <string>

#include <gtest/gtest.h>

namespace vespar {
namespace {

TEST(TextBufferTest, KeepsAtMost259UnitsAndNeverHalfAPair) {
  const std::u16string kPair = u"\U0001F600";  // two UTF-16 units
  static const struct {
    const char* name;
    std::u16string text;
    size_t kept;
  } kCases[] = {
      {"short", u"setup.exe", 9},
      {"exactly 259", std::u16string(259, u'a'), 259},
      {"260 cut to 259", std::u16string(260, u'a'), 259},
      {"300 cut to 259", std::u16string(300, u'b'), 259},
      {"pair across the cut", std::u16string(258, u'a') + kPair + u"zz", 258},
      {"pair ending at the cut", std::u16string(257, u'a') + kPair + u"zz", 259},
      {"empty", u"", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TextBuffer buffer(c.text);
    EXPECT_EQ(buffer.view(), std::u16string_view(c.text).substr(0, c.kept));
    EXPECT_EQ(buffer.text[kTextBufferUnits - 1], u'\0');
  }
}

TEST(TextBufferTest, SettingAShorterTextClearsTheRest) {
  TextBuffer buffer(std::u16string(100, u'x'));
  buffer.Set(u"ab");
  EXPECT_EQ(buffer.view(), u"ab");
  for (size_t i = 2; i < kTextBufferUnits; ++i) ASSERT_EQ(buffer.text[i], u'\0');
}

}  // namespace
}  // namespace vespar
