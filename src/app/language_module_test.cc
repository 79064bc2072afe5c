#include "src/app/language_module.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "src/bootstrap/bootstrap_testing.h"
#include "src/bootstrap/globals.h"
#include "src/platform/code_page.h"

namespace vespar {
namespace {

TEST(LanguageModuleTest, LanguageIdFromLocaleName) {
  static const struct {
    const char* locale;
    uint16_t id;
  } kCases[] = {
      {"ko_KR.UTF-8", 0x0412}, {"ko_KR.eucKR", 0x0412}, {"ko", 0x0412},
      {"ja_JP.UTF-8", 0x0411}, {"en_US.UTF-8", 0x0409}, {"en_GB.UTF-8", 0x0809},
      {"zh_CN.UTF-8", 0x0804}, {"zh_TW.Big5", 0x0404},  {"zh_hk", 0x0C04},
      {"de_DE.UTF-8", 0x0407}, {"de_AT@euro", 0x0C07},  {"fr_FR", 0x040C},
      {"pt_BR.UTF-8", 0x0416}, {"pt_PT", 0x0816},       {"KO_kr", 0x0412},
      {"C", 0x0409},           {"C.UTF-8", 0x0409},     {"POSIX", 0x0409},
      {"", 0x0409},            {"xx_YY", 0x0409},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(LanguageIdFromLocale(c.locale), c.id);
  }
}

// Sets or unsets the locale variables for one test and restores them after.
class LocaleEnvironment {
 public:
  LocaleEnvironment(const char* lc_all, const char* lc_messages, const char* lang) {
    Save();
    Set("LC_ALL", lc_all);
    Set("LC_MESSAGES", lc_messages);
    Set("LANG", lang);
  }
  ~LocaleEnvironment() {
    for (auto& [name, value] : saved_) Set(name, value ? value->c_str() : nullptr);
  }

 private:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  void Save() {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  static void Set(const char* name, const char* value) {
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(LanguageModuleTest, SystemLanguagePrefersLcAllThenLcMessagesThenLang) {
  static const struct {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    uint16_t id;
  } kCases[] = {
      {"ja_JP.UTF-8", "ko_KR.UTF-8", "de_DE.UTF-8", 0x0411},
      {nullptr, "ko_KR.UTF-8", "de_DE.UTF-8", 0x0412},
      {"", "", "de_DE.UTF-8", 0x0407},
      {nullptr, nullptr, "C", 0x0409},
      {nullptr, nullptr, nullptr, 0x0409},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << (c.lc_all ? c.lc_all : "-") << " "
                                      << (c.lc_messages ? c.lc_messages : "-") << " "
                                      << (c.lang ? c.lang : "-"));
    LocaleEnvironment environment(c.lc_all, c.lc_messages, c.lang);
    EXPECT_EQ(SystemLanguageIdFromLocale(), c.id);
  }
}

TEST(LanguageModuleTest, ResolvesTheModuleName) {
  static const struct {
    std::u16string_view name;
    uint16_t language;
    bool ok;
    std::u16string_view resolved;
  } kCases[] = {
      {u"ResourceDLL_kor", 0x0409, true, u"resourcedll_kor"},
      {u"auto", 0x0412, true, u"ResourceDLL_kor.dll"},
      {u"AUTO", 0x0411, true, u"ResourceDLL_jpn.dll"},
      {u"Auto", 0x0409, false, u"auto"},
      {u"auto", 0x0804, false, u"auto"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.name) + " " + std::to_string(c.language));
    RecordingPromptScope scope;
    LanguageModuleName = c.name;
    SystemLanguageId = c.language;
    EXPECT_EQ(ResolveLanguageModule(), c.ok);
    EXPECT_EQ(LanguageModuleName, c.resolved);
    auto asked = scope.asked();
    if (c.ok) {
      EXPECT_TRUE(asked.empty());
    } else {
      ASSERT_EQ(asked.size(), 1u);
      EXPECT_EQ(asked[0].text, u"Not support Language!");
      EXPECT_EQ(asked[0].caption, u"Failed");
    }
  }
  SystemLanguageId = 0;
}

}  // namespace
}  // namespace vespar
