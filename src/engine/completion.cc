#include "src/engine/completion.h"

#include <errno.h>
#include <string.h>

#include <atomic>

#include "src/bootstrap/globals.h"
#include "src/engine/download_manager.h"
#include "src/engine/file_naming.h"
#include "src/engine/local_path.h"
#include "src/engine/messages.h"
#include "src/log/log.h"
#include "src/platform/code_page.h"
#include "src/platform/file_system.h"
#include "src/platform/prompt.h"

namespace vespar {
namespace {

// The user's answer, for the whole process (manager thread; reset by the
// front end between completions).
std::atomic<bool> g_askPending{true};
std::atomic<bool> g_keepExisting{true};

const char16_t kOverwriteQuestion[] = u"동일한 파일이 있습니다 덮어쓰시겠습니까?";
const char16_t kQuestionCaption[] = u"알림";
const char16_t kDeleteFailed[] = u"파일삭제 실패";

enum class Naming { kNamed, kSkipped, kFailed, kStop };

// Makes sure the part file holds exactly the file: a longer one is cut (the
// tail is not ours), a shorter one is incomplete.
bool PartFileFits(FileSystem& fs, const std::string& partPath, int64_t size) {
  int64_t onDisk = 0;
  if (int error = fs.FileSize(partPath, &onDisk)) {
    LogPrintf("part file %s: %s", partPath.c_str(), strerror(error));
    return false;
  }
  if (onDisk == size) return true;
  if (onDisk < size) {
    LogPrintf("part file %s holds %lld of %lld bytes", partPath.c_str(),
              static_cast<long long>(onDisk), static_cast<long long>(size));
    return false;
  }
  int fd = -1;
  if (fs.OpenForWrite(partPath, OpenMode::kExistingOnly, &fd) != 0) return false;
  int error = fs.Truncate(fd, size);
  fs.Close(fd);
  return error == 0;
}

Naming NameOneFile(FileSystem& fs, const std::u16string& folder,
                   const std::u16string& relative, const std::u16string& name,
                   int64_t size, std::u16string* shown) {
  std::string partPath = ToUtf8(JoinLocalPath(folder, relative, name) + u".tmp");
  std::string target = ToUtf8(JoinLocalPath(folder, relative, name));
  if (!fs.Exists(partPath)) {
    // Named by an earlier completion that did not finish every file.
    if (fs.Exists(target)) return Naming::kSkipped;
    LogPrintf("part file %s is missing", partPath.c_str());
    return Naming::kFailed;
  }
  if (!PartFileFits(fs, partPath, size)) return Naming::kFailed;
  shown->clear();
  int n = 1;
  while (true) {
    if (fs.Exists(target)) {
      bool overwrite = !g_keepExisting.load();
      if (!overwrite && g_askPending.exchange(false)) {
        overwrite = AskYesNo(kOverwriteQuestion, kQuestionCaption);
        if (overwrite) g_keepExisting = false;
      }
      if (overwrite) {
        if (int error = fs.Remove(target)) {
          LogPrintf("cannot delete %s: %s", target.c_str(), strerror(error));
          ShowMessage(kDeleteFailed, ApplicationTitle);
          return Naming::kStop;
        }
      } else {
        *shown = NumberedFileName(name, n++);
        target = ToUtf8(JoinLocalPath(folder, relative, *shown));
        continue;
      }
    }
    int error = fs.RenameNoReplace(partPath, target);
    if (error == 0) return Naming::kNamed;
    // Taken between the test and the rename: never replace it, look again.
    if (error == EEXIST) continue;
    LogPrintf("cannot rename %s to %s: %s", partPath.c_str(), target.c_str(),
              strerror(error));
    return Naming::kFailed;
  }
}

}  // namespace

int FinishDownloads(CDownloadManager& m) {
  FileSystem& fs = CurrentFileSystem();
  std::u16string launchPath;
  bool hasLaunch = LaunchFilePath(m.downloadFolder, m.relativeFolder, LaunchFileName,
                                  &launchPath);
  bool failed = false;
  for (size_t i = 0; i < m.itemUrls.size(); ++i) {
    const std::u16string& url = m.itemUrls[i];
    std::u16string name = FileNameFromUrl(url);
    std::u16string relative;
    if (!RelativeFolderOf(url, &relative)) {
      failed = true;
      continue;
    }
    std::u16string shown;
    Naming result = NameOneFile(fs, m.downloadFolder, relative, name, m.itemSizes[i], &shown);
    if (result == Naming::kStop) return kErrorFinalName;
    if (result == Naming::kFailed) failed = true;
    if (result != Naming::kNamed || shown.empty() || !hasLaunch) continue;
    // The launch file got a numbered name: start the numbered copy.
    if (JoinLocalPath(m.downloadFolder, relative, name) == launchPath) {
      size_t slash = LaunchFileName.rfind(u'/');
      LaunchFileName = slash == std::u16string::npos
                           ? shown
                           : LaunchFileName.substr(0, slash + 1) + shown;
    }
  }
  return failed ? kErrorFinalName : 0;
}

void ResetCompletionQuestion() {
  g_askPending = true;
  g_keepExisting = true;
}

}  // namespace vespar
