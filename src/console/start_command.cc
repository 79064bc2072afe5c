#include "src/console/start_command.h"

#include <errno.h>

#include "src/platform/file_system.h"

namespace vespar {

bool EnoughSpace(int64_t totalSize, int64_t onDisk, uint64_t freeBytes) {
  const int64_t needed = totalSize - onDisk;
  if (needed <= 0) return true;
  return static_cast<uint64_t>(needed) < freeBytes;
}

int FreeSpaceFor(const std::string& folder, uint64_t* bytes) {
  if (folder.empty() || folder[0] != '/') return EINVAL;
  FileSystem& fs = CurrentFileSystem();
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  while (path.size() > 1 && !fs.Exists(path)) {
    size_t slash = path.rfind('/');
    path.resize(slash == 0 ? 1 : slash);
  }
  return fs.FreeSpace(path, bytes);
}

SpaceCheck CheckSpace(const std::string& folder, int64_t totalSize, int64_t onDisk,
                      int* error) {
  uint64_t free = 0;
  int result = FreeSpaceFor(folder, &free);
  if (error) *error = result;
  if (result != 0) return SpaceCheck::kUnknown;
  return EnoughSpace(totalSize, onDisk, free) ? SpaceCheck::kEnough : SpaceCheck::kNotEnough;
}

FolderChoice ChooseFolder(std::u16string_view chosen, std::u16string_view savedFolder,
                          int64_t received) {
  FolderChoice choice;
  if (!savedFolder.empty() && chosen == savedFolder) {
    choice.saved = FolderChoice::Saved::kRestore;
    return choice;
  }
  choice.resetCurrentItem = true;
  if (received > 0) choice.saved = FolderChoice::Saved::kDiscard;
  return choice;
}

}  // namespace vespar
