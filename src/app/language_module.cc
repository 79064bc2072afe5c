#include "src/app/language_module.h"

#include <cstdlib>
#include <string>

#include "src/bootstrap/globals.h"
#include "src/platform/prompt.h"
#include "src/platform/text.h"

namespace vespar {
namespace {

struct LocaleLanguage {
  std::string_view language;
  std::string_view territory;  // empty: the language's usual identifier
  uint16_t id;
};

// Variants first: the lookup takes the first row whose language matches and
// whose territory is empty or equal.
constexpr LocaleLanguage kLanguages[] = {
    {"zh", "TW", 0x0404}, {"zh", "HK", 0x0C04}, {"zh", "MO", 0x1404}, {"zh", "SG", 0x1004},
    {"zh", "", 0x0804},   {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009},
    {"en", "", 0x0409},   {"pt", "PT", 0x0816}, {"pt", "", 0x0416},   {"fr", "BE", 0x080C},
    {"fr", "CA", 0x0C0C}, {"fr", "CH", 0x100C}, {"fr", "", 0x040C},   {"de", "AT", 0x0C07},
    {"de", "CH", 0x0807}, {"de", "", 0x0407},   {"es", "MX", 0x080A}, {"es", "", 0x0C0A},
    {"ko", "", 0x0412},   {"ja", "", 0x0411},   {"it", "", 0x0410},   {"ru", "", 0x0419},
    {"nl", "", 0x0413},   {"pl", "", 0x0415},   {"sv", "", 0x041D},   {"tr", "", 0x041F},
    {"vi", "", 0x042A},   {"th", "", 0x041E},   {"ar", "", 0x0401},   {"he", "", 0x040D},
    {"uk", "", 0x0422},   {"cs", "", 0x0405},   {"fi", "", 0x040B},   {"da", "", 0x0406},
    {"nb", "", 0x0414},   {"no", "", 0x0414},   {"nn", "", 0x0814},   {"el", "", 0x0408},
    {"hu", "", 0x040E},   {"id", "", 0x0421},   {"ms", "", 0x043E},   {"ro", "", 0x0418},
    {"bg", "", 0x0402},   {"hr", "", 0x041A},   {"sk", "", 0x041B},   {"sl", "", 0x0424},
};

}  // namespace

uint16_t LanguageIdFromLocale(std::string_view locale) {
  // language[_territory][.codeset][@modifier]
  size_t end = locale.find_first_of(".@");
  std::string_view name = locale.substr(0, end);
  size_t underscore = name.find('_');
  std::string language = ToLowerAscii(name.substr(0, underscore));
  std::string territory;
  if (underscore != std::string_view::npos) {
    for (char c : name.substr(underscore + 1)) {
      territory += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
  }
  for (const LocaleLanguage& row : kLanguages) {
    if (row.language == language && (row.territory.empty() || row.territory == territory)) {
      return row.id;
    }
  }
  return kLanguageEnglishUs;
}

uint16_t SystemLanguageIdFromLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return LanguageIdFromLocale(value);
  }
  return kLanguageEnglishUs;
}

bool ResolveLanguageModule() {
  LanguageModuleName = ToLowerAscii(LanguageModuleName);
  if (LanguageModuleName != u"auto") return true;
  if (SystemLanguageId == kLanguageJapanese) {
    LanguageModuleName = u"ResourceDLL_jpn.dll";
    return true;
  }
  if (SystemLanguageId == kLanguageKorean) {
    LanguageModuleName = u"ResourceDLL_kor.dll";
    return true;
  }
  ShowMessage(u"Not support Language!", u"Failed");
  return false;
}

}  // namespace vespar
