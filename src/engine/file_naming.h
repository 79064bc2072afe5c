#pragma once

// File names taken from item URLs, and the numbered names given to a new
// file when the user keeps an existing one of the same name.

#include <string>
#include <string_view>

namespace vespar {

// The text after the last "/" of the URL; empty when it has no "/".
std::u16string FileNameFromUrl(std::u16string_view url);

// name(n).ext for a name with an extension (a "." that is not the first
// character; the last one counts), else name(n). Always built from the plain
// name, so the candidates are a(1).txt, a(2).txt, never a(1)(2).txt.
std::u16string NumberedFileName(std::u16string_view name, int n);

}  // namespace vespar
