#pragma once

// The two code pages of the program. The wire code page (CP949) is what the
// publisher's servers exchange as legacy text: request targets before
// percent-encoding, host names, the configuration file and the contents
// script. The local code page (UTF-8) is Linux's own: paths, the resume file,
// the log. A character the target lacks becomes "?"; invalid input never
// crashes and never stops a conversion (the bad unit becomes "?").

#include <string>
#include <string_view>

namespace vespar {

std::string ToWire(std::u16string_view text);
std::u16string FromWire(std::string_view bytes);

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);

}  // namespace vespar
