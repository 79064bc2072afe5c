#include "src/platform/safe_names.h"

namespace vespar {
namespace {

bool HasControlCharacter(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

bool IsDotSegment(std::u16string_view segment) {
  return segment == u"." || segment == u"..";
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

}  // namespace

bool IsSafeFileName(std::u16string_view name) {
  if (name.empty() || IsDotSegment(name) || HasControlCharacter(name)) return false;
  for (char16_t c : name) {
    if (IsSeparator(c)) return false;
  }
  return true;
}

bool IsSafeRelativePath(std::u16string_view path) {
  if (path.empty()) return true;
  if (HasControlCharacter(path) || IsSeparator(path[0])) return false;
  // "C:" and the like would name a drive on a system that has drives.
  if (path.size() >= 2 && path[1] == u':' &&
      ((path[0] >= u'a' && path[0] <= u'z') || (path[0] >= u'A' && path[0] <= u'Z')))
    return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (IsDotSegment(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

std::u16string PrintableName(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c < 0x20 || c == 0x7F) c = u'?';
  }
  return out;
}

}  // namespace vespar
