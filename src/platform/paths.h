#pragma once

// Where the program keeps its files on Linux. Paths are UTF-8 byte strings
// without a trailing "/" unless they are "/".

#include <string>

namespace vespar {

// Folder of the running executable (/proc/self/exe); empty when unknown.
std::string ExecutableFolder();

// Environment values that are empty or relative are ignored, as the XDG
// base-directory rules say.

// $XDG_STATE_HOME/vespar-downloader, else ~/.local/state/vespar-downloader.
std::string StateFolder();

// $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR line of
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else $HOME/Documents.
// In user-dirs.dirs the value is "$HOME/..." or an absolute path in double
// quotes; the last valid line wins.
std::string DocumentsFolder();

// $XDG_RUNTIME_DIR, else the state folder.
std::string RuntimeFolder();

// The executable's folder when a file can be created there, else the state
// folder (created when missing). Logs and the crash report live below it.
std::string WritableProgramFolder();
// `preferred` when a file can be created there, else the state folder
// (created when missing). WritableProgramFolder is this for the executable's
// folder.
std::string WritableFolderOrState(const std::string& preferred);

// Creates `path` and every missing parent. True when the folder exists after.
bool MakeFolders(const std::string& path);

// True when a file can be created in `folder` (tried, then removed).
bool CanWriteInFolder(const std::string& folder);

// The user's home folder ($HOME, else the password database).
std::string HomeFolder();

}  // namespace vespar
