#pragma once

// The front end's half of handing the download list to the engine.

#include "src/platform/message_queue.h"

namespace vespar {

// Posts MGRM_ADD_ITEM to the manager thread for every entry of the download
// list, each with a heap copy of the entry's URL (DownloadEntryUrl). Returns
// the number of entries that could not be posted; their buffers are freed
// here and the front end reports "Send Message Error".
int PostDownloadList(ThreadId manager);

}  // namespace vespar
