#pragma once

// The program's string table (ids 10001 to 10401, compiled in). LoadStrings
// puts the strings that live in process-wide values in place; every other
// text is read by id with ResourceString (resources/resources.h).

#include <cstdint>
#include <string>

namespace vespar {

inline constexpr int kStringTitle = 10001;       // ApplicationTitle
inline constexpr int kStringStateFirst = 10002;  // state 0; states 0 to 8
inline constexpr int kStringScriptUrl = 10401;   // ScriptUrl, "none" as shipped

// Sets ApplicationTitle and ScriptUrl from the table.
void LoadStrings();

// Text of a part state (0 "대기" to 8 "실패"); empty for any other value.
const std::u16string& PartStateText(int16_t state);

}  // namespace vespar
