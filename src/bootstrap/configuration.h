#pragma once

// The configuration file and the start-up descriptor.
//
// The configuration file has four meaningful lines: the folder layout flag,
// two halves of the content list URL, and the launch file name. A line's value
// is the text after its first "=" (the key before it is ignored), trimmed.
// The start-up descriptor is "KOR_0001|ResourceDLL_kor" followed by the tail
// ParseConfiguration makes; its non-empty "|" fields are region code, language
// module, layout flag, content list URL and, optionally, the launch file.

#include <string>
#include <string_view>
#include <vector>

#include "src/bootstrap/bootstrap_options.h"

namespace vespar {

inline constexpr std::u16string_view kBuiltInDescriptor = u"KOR_0001|ResourceDLL_kor";

// Fetches `url` with the ctime text of now as its query and leaves the body,
// decoded from the wire code page, in ConfigurationText. Returns 0 on
// success; the status for any answer other than 200 (404 stays 404); else
// the HTTP client's error number (12000 + libcurl code).
int FetchConfiguration(std::u16string_view url, const BootstrapOptions& options = {});

// The descriptor tail in the wire code page: "|flag|part1part2|launch", or
// "|flag|part1part2" when the launch line is empty.
std::string ParseConfiguration(std::u16string_view text);

// The non-empty fields of a descriptor, in order.
std::vector<std::u16string> SplitStartupDescriptor(std::u16string_view descriptor);

// Stores the descriptor's fields as the process-wide values, builds the
// download list and resolves the language module. 0 when start-up may go on;
// 1 when it must stop (any message has been shown): a field count other than
// 4 or 5, an unsafe launch file path, a failed list or language step.
int ApplyStartupDescriptor(std::u16string_view descriptor,
                           const BootstrapOptions& options = {});

}  // namespace vespar
