#include "src/bootstrap/string_table.h"

#include "resources/resources.h"
#include "src/bootstrap/globals.h"

namespace vespar {

void LoadStrings() {
  ApplicationTitle = ResourceString(kStringTitle);
  ScriptUrl = ResourceString(kStringScriptUrl);
}

const std::u16string& PartStateText(int16_t state) {
  static const std::u16string kNone;
  if (state < 0 || state > 8) return kNone;
  return ResourceString(kStringStateFirst + state);
}

}  // namespace vespar
