#pragma once

// The two decisions of the window's Start and choose-folder commands that the
// console takes on its own: is there room for the download, and what a
// folder choice does to the saved state.

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar {

// The free-space check before the first start. The bytes still to come
// (`totalSize` less the `onDisk` bytes restored from an earlier run) must be
// smaller than `freeBytes`: a download that needs exactly the free space is
// refused, and nothing at all to fetch always passes.
bool EnoughSpace(int64_t totalSize, int64_t onDisk, uint64_t freeBytes);

// Free bytes on the volume that will hold `folder` (UTF-8): the folder
// itself, or its nearest existing parent while it is not made yet. Through
// the file seam. 0 or an errno value.
int FreeSpaceFor(const std::string& folder, uint64_t* bytes);

enum class SpaceCheck { kEnough, kNotEnough, kUnknown };

// EnoughSpace against FreeSpaceFor(folder); kUnknown (with the errno in
// *error) when the free space cannot be read.
SpaceCheck CheckSpace(const std::string& folder, int64_t totalSize, int64_t onDisk,
                      int* error = nullptr);

// What choosing `chosen` as the download folder does, the question about
// starting over answered yes.
struct FolderChoice {
  enum class Saved {
    kKeep,     // nothing to do with the saved state
    kDiscard,  // MGRM_DISCARD_SAVED and the list probed anew
    kRestore,  // MGRM_RESTORE_SAVED and the list probed anew
  };
  Saved saved = Saved::kKeep;
  // The download starts over from the first item.
  bool resetCurrentItem = false;
};

// `chosen` and `savedFolder` are normalised folders (one trailing "/").
// Choosing the folder of the saved state restores that state; any other
// folder starts over, discarding what was received (`received` > 0) from
// the list.
FolderChoice ChooseFolder(std::u16string_view chosen, std::u16string_view savedFolder,
                          int64_t received);

}  // namespace vespar
