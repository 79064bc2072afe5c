#include "src/bootstrap/string_table.h"

#include <gtest/gtest.h>

#include "src/bootstrap/bootstrap_testing.h"
#include "src/bootstrap/globals.h"

namespace vespar {
namespace {

TEST(StringTableTest, LoadStringsFillsTitleAndScriptUrl) {
  ResetBootstrapGlobalsForTesting();
  LoadStrings();
  EXPECT_EQ(ApplicationTitle, u"Vespar Downloader");
  EXPECT_EQ(ScriptUrl, u"none");
  ResetBootstrapGlobalsForTesting();
}

TEST(StringTableTest, PartStateTexts) {
  static const struct {
    int16_t state;
    std::u16string_view text;
  } kCases[] = {
      {0, u"대기"}, {1, u"전송"},   {2, u"완료"}, {3, u"타임아웃"}, {4, u"중지"},
      {5, u"접속중"}, {6, u"접속실패"}, {7, u"끊어짐"}, {8, u"실패"}, {-1, u""}, {9, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(PartStateText(c.state), c.text);
  }
}

}  // namespace
}  // namespace vespar
