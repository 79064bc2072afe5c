#pragma once

// Starting the launch file at the end of a download, and opening a folder
// with the desktop's opener. Programs are started detached: in a session of
// their own, standard input from /dev/null, so they outlive the downloader
// and never read its terminal.

#include <sys/types.h>

#include <string>

namespace vespar {

// Sets the owner's execute bit on `file` (an absolute path; that file only)
// and starts it with `working_folder` as its working directory. 0 or an errno
// value (ENOEXEC for a file that is no program, EINVAL for a relative path).
// *pid, when given, receives the child's id so a caller that stays alive can
// reap it.
int RunDetached(const std::string& file, const std::string& working_folder,
                pid_t* pid = nullptr);

// Opens `folder` with xdg-open (found on PATH). 0 or an errno value.
int OpenFolder(const std::string& folder, pid_t* pid = nullptr);

enum class LaunchOutcome { kRan, kOpenedFolder, kFailed };

// Runs `file` in `folder`; when that fails, opens the folder instead.
LaunchOutcome LaunchOrOpenFolder(const std::string& file, const std::string& folder,
                                 int* error = nullptr);

}  // namespace vespar
