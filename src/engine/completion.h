#pragma once

// Completion: every part file takes its final name once all files are
// complete. An existing file of the same name is overwritten or kept; the
// user is asked once ("동일한 파일이 있습니다 덮어쓰시겠습니까?") and a kept
// file makes the new one take a numbered name. When the launch file is
// numbered, LaunchFileName follows it.

namespace vespar {

class CDownloadManager;

// Runs on the manager thread after the last item. 0 when every file has its
// final name; kErrorFinalName (23) when one could not be given (a failed
// deletion or rename, a part file missing or shorter than its file). The
// files that could be named keep their names; the others keep their part
// files. A final rename never replaces a file.
int FinishDownloads(CDownloadManager& manager);

// Arms the one question again (the front end calls it when it handles
// DLGN_ALL_COMPLETE): ask pending and keep existing are both set.
void ResetCompletionQuestion();

}  // namespace vespar
