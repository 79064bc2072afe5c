#pragma once

// The content list URL: a base ("http://host[:port]/") followed by entries
// separated by ":". An entry is an optional folder ending in "/" and a file
// name, or "*.*" for every file of the folder. A name without a folder keeps
// the folder of the entry before it.

#include <string>
#include <string_view>
#include <vector>

namespace vespar {

inline constexpr std::u16string_view kEveryFileName = u"*.*";

struct ContentEntry {
  std::u16string folder;  // as written, e.g. "full/client/"; may be empty
  std::u16string name;    // a file name, or kEveryFileName
};

struct ContentList {
  // Piece 0 of the URL, "//", piece 2 and "/", pieces split at "/".
  std::u16string base;
  // In the order written. Entries with an empty name (a list ending in ":" or
  // "/", or "::") are left out; they still carry their folder on.
  std::vector<ContentEntry> entries;
};

// Passive: no network, no global state.
ContentList ParseContentList(std::u16string_view url);

}  // namespace vespar
