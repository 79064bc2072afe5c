#pragma once

// Where a downloaded file lives below the download folder. One set of rules
// serves part planning, the resume file, completion and the launch path, so a
// file's part file and its final name never disagree.
//
// Local paths are UTF-16 here (the engine's text) with "/" separators and
// become UTF-8 at the file seam. Every path built from server text stays
// inside the download folder: a "." or ".." segment, a control character or
// an empty file name is refused.

#include <string>
#include <string_view>
#include <vector>

#include "src/platform/safe_names.h"

namespace vespar {

// The relative folder of an item: its URL minus the content base it was
// listed under (the longest of `bases` that prefixes it, else `contentBase`,
// else the scheme and host) and minus the file name after the last "/".
// Empty unless `layoutFlag` is exactly "r". Returned as "a/b/" (segments
// joined by one "/", a trailing "/"), or empty. False when a segment is "."
// or "..", or holds a control character.
bool RelativeFolderFor(std::u16string_view url, std::u16string_view layoutFlag,
                       const std::vector<std::u16string>& bases,
                       std::u16string_view contentBase, std::u16string* folder);

// The same with the process-wide FolderLayoutFlag, DownloadBases and
// ContentBaseUrl.
bool RelativeFolderOf(std::u16string_view url, std::u16string* folder);

// `folder` with runs of "/" collapsed and one trailing "/".
std::u16string NormaliseFolder(std::u16string_view folder);

// downloadFolder + relativeFolder + name, runs of "/" collapsed.
std::u16string JoinLocalPath(std::u16string_view downloadFolder,
                             std::u16string_view relativeFolder,
                             std::u16string_view name);

// The launch file's path: download folder, relative folder, launch name. The
// launch name may name a sub-folder ("bin/start.sh") but must stay inside:
// false for an empty or absolute name, a "." or ".." segment, or a control
// character.
bool LaunchFilePath(std::u16string_view downloadFolder,
                    std::u16string_view relativeFolder,
                    std::u16string_view launchName, std::u16string* path);

}  // namespace vespar
