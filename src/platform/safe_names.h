#pragma once

// Checks on names and folders that arrive from servers (listings, the content
// list, the configuration's launch file) before they become local paths. Every
// local path built from them must stay inside the download folder.

#include <string>
#include <string_view>

namespace vespar {

// A single file name: not empty, not "." or "..", no "/" or "\", no NUL or
// other control character.
bool IsSafeFileName(std::u16string_view name);

// A relative path such as "full/client/" or "bin/setup.exe": no absolute
// start ("/", "\" or a drive letter), no "." or ".." segment (segments split
// at "/" and "\"), no control character. The empty path is safe.
bool IsSafeRelativePath(std::u16string_view path);

// Server text made fit for a one-line message: control characters become "?".
std::u16string PrintableName(std::u16string_view text);

}  // namespace vespar
