#pragma once

// The language module named by the start-up descriptor, and the system
// language it is chosen by. On this platform the system language comes from
// the locale: LC_ALL, else LC_MESSAGES, else LANG.

#include <cstdint>
#include <string_view>

namespace vespar {

inline constexpr uint16_t kLanguageEnglishUs = 0x0409;
inline constexpr uint16_t kLanguageJapanese = 0x0411;
inline constexpr uint16_t kLanguageKorean = 0x0412;

// The language identifier of a locale name such as "ko_KR.UTF-8": the
// language with its territory where the territory picks a variant (zh_TW,
// pt_BR, en_GB, ...), else the language's usual identifier. "C", "POSIX",
// empty and unknown languages give 0x0409.
uint16_t LanguageIdFromLocale(std::string_view locale);

// LanguageIdFromLocale of the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty.
uint16_t SystemLanguageIdFromLocale();

// Lower-cases LanguageModuleName in place. "auto" becomes the module of
// SystemLanguageId: "ResourceDLL_jpn.dll" for Japanese, "ResourceDLL_kor.dll"
// for Korean; any other language shows "Not support Language!" in a box
// titled "Failed" and fails. Every other name stands for itself.
bool ResolveLanguageModule();

}  // namespace vespar
