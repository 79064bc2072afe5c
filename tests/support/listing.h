#pragma once

// The HTML folder listing of the test server, in the upper-case anchor format
// of the publisher's servers: <A HREF="/abs/path/name">name</A>, a
// "[To Parent Directory]" link first (except at "/"), sub-folders as links
// ending in "/". Links are absolute paths, percent-encoded; the visible names
// are the raw bytes (UTF-8 on a real server), HTML-escaped.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vespar::testing {

struct ListingEntry {
  std::string link_path;  // absolute path as raw bytes; a folder's ends with "/"
  int64_t size = -1;      // shown for files; folders show "<dir>"
};

// "%XX" (upper-case hex) for every byte except ASCII letters, digits,
// "-", "_", ".", "~" and "/". A "+" and a blank are encoded (%2B, %20) so
// that a name never changes when a client decodes "+" as a blank.
std::string PercentEncodePath(std::string_view bytes);

// The page for `folder` (an absolute path ending in "/"), entries in the
// order given. `host` appears in the title only.
std::string BuildListingHtml(std::string_view host, std::string_view folder,
                             const std::vector<ListingEntry>& entries);

}  // namespace vespar::testing
