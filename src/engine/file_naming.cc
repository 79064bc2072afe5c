#include "src/engine/file_naming.h"

#include "src/platform/text.h"

namespace vespar {

std::u16string FileNameFromUrl(std::u16string_view url) {
  size_t slash = url.rfind(u'/');
  if (slash == std::u16string_view::npos) return {};
  return std::u16string(url.substr(slash + 1));
}

std::u16string NumberedFileName(std::u16string_view name, int n) {
  std::u16string number = u"(" + AsciiToU16(std::to_string(n)) + u")";
  size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos || dot == 0)
    return std::u16string(name) + number;
  return std::u16string(name.substr(0, dot)) + number + u"." +
         std::u16string(name.substr(dot + 1));
}

}  // namespace vespar
