#pragma once

// The file links of a folder listing. The publisher's server writes anchors
// in upper case, exactly "<A HREF=" and a double quote, the server path, then
// a double quote and ">". Passive: bytes in, links and names out.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vespar {

// Every link path of the body, in order. A link runs from the opener to the
// next closer; the search for the next opener starts at that closer. An
// opener without a closer ends the scan.
std::vector<std::string> ScanListingLinks(std::string_view body);

// The file name a link stands for: the text after its last "/",
// percent-decoded ("+" gives a blank) and read as UTF-8. Empty when the link
// is not followed: it holds no "/" (a relative link) or ends in "/" (a
// sub-folder or the parent folder). The name is not checked for safety here.
std::optional<std::u16string> LinkFileName(std::string_view link);

}  // namespace vespar
