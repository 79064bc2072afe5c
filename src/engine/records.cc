#include "src/engine/records.h"

#include <algorithm>

namespace vespar {

void TextBuffer::Set(std::u16string_view value) {
  size_t n = std::min(value.size(), kTextBufferUnits - 1);
  // Never keep the first half of a surrogate pair without its second half.
  if (n < value.size() && n > 0 && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF)
    --n;
  std::fill(std::begin(text), std::end(text), u'\0');
  std::copy_n(value.data(), n, text);
}

std::u16string_view TextBuffer::view() const {
  size_t n = 0;
  while (n < kTextBufferUnits && text[n] != u'\0') ++n;
  return {text, n};
}

}  // namespace vespar
