#include "src/engine/download_list_poster.h"

#include <memory>
#include <string>

#include "src/bootstrap/globals.h"
#include "src/engine/messages.h"

namespace vespar {

int PostDownloadList(ThreadId manager) {
  int failed = 0;
  for (size_t i = 0; i < DownloadNames.size(); ++i) {
    auto url = std::make_unique<std::u16string>(DownloadEntryUrl(i));
    // On failure the buffer is still ours and is freed with `url`.
    if (!PostThreadRecord(manager, MGRM_ADD_ITEM, 0, url)) ++failed;
  }
  return failed;
}

}  // namespace vespar
