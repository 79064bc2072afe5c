// Items: probing, taking the next item, completing them; manager thread only.

#include <algorithm>

#include "src/engine/completion.h"
#include "src/engine/download_manager.h"
#include "src/engine/file_naming.h"
#include "src/engine/item_probe.h"
#include "src/engine/local_path.h"
#include "src/engine/messages.h"
#include "src/engine/records.h"
#include "src/log/log.h"
#include "src/net/connection.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"

namespace vespar {

void CDownloadManager::OnAddItem(Message& m) {
  std::unique_ptr<std::u16string> url = TakeRecord<std::u16string>(m);
  if (!url) url = std::make_unique<std::u16string>();
  if (probeFailed) {
    Notify(DLGN_ITEM_PROBED, 0, 1);
    return;
  }
  int result = ProbeItem(*url);
  if (result == 0) {
    Notify(DLGN_ITEM_PROBED, 0, probeFailed ? 1 : 0);
    return;
  }
  probeFailed = true;
  if (result == kErrorDuplicate) {
    // The URL itself goes to the window, which names it.
    NotifyRecord(DLGN_ITEM_DUPLICATE, 0, std::move(url));
    return;
  }
  Notify(DLGN_ERROR, 0, result);
  Notify(DLGN_ITEM_PROBED, 0, 1);
}

int CDownloadManager::ProbeItem(const std::u16string& url) {
  std::u16string name = FileNameFromUrl(url);
  if (std::find(itemUrls.begin(), itemUrls.end(), url) != itemUrls.end())
    return kErrorDuplicate;
  std::u16string folder;
  if (!IsSafeFileName(name) || !RelativeFolderOf(url, &folder)) {
    LogPrintf("refused item with an unsafe local path: %s", ToUtf8(url).c_str());
    return kErrorUnsafePath;
  }
  if (OpenSocket(probe) != 0) {
    probe.state = PART_DISCONNECTED;
    return kErrorOpenSocket;
  }
  std::u16string host = GetUrlHost(url);
  uint16_t port = GetUrlPort(host);
  uint32_t address = 0;
  if (!ResolveHost(host, &address, ResolveLog::kLogFailure)) {
    probe.status = 1;
    CloseSocket(probe);
    return kErrorResolve;
  }
  int connected = ConnectTimeout(probe, port, address, timings_.connectMs);
  if (connected != 0) {
    CloseSocket(probe);
    probe.state = PART_DISCONNECTED;
    return connected;
  }
  ProbeExchange exchange = ExchangeProbeHead(probe, url, timings_.headMs);
  CloseSocket(probe);
  probe.status = static_cast<int16_t>(exchange.head.status);
  int64_t size = 0;
  int verdict = ProbeVerdict(exchange, &size);
  if (verdict != 0) {
    if (!exchange.headRead && exchange.error != 0)
      Notify(DLGN_SOCKET_ERROR, reinterpret_cast<uintptr_t>(this), exchange.error);
    LogPrintf("probe of %s failed: status %d, code %d", ToUtf8(url).c_str(),
              exchange.head.status, verdict);
    return verdict;
  }

  itemUrls.push_back(url);
  itemSizes.push_back(size);
  totalSize += size;
  auto info = std::make_unique<ItemInfoRecord>();
  info->size = size;
  info->total = totalSize;
  info->fileName.Set(name);
  NotifyRecord(DLGN_ITEM_ADDED, 0, std::move(info));

  // The item right after the current one may continue from saved parts;
  // one already complete on disk is passed over here.
  if (currentItem + 2 == static_cast<int32_t>(itemUrls.size())) {
    PlanItem(url, false);
    if (RestoreSavedParts(url) == 2) {
      ++currentItem;
      NotifyRecord(DLGN_ITEM_COMPLETE, 0, std::make_unique<std::u16string>(name));
    }
  }
  return 0;
}

void CDownloadManager::OnNextItem(bool advance) {
  if (!advance && itemUrls.empty()) {
    Notify(DLGN_ERROR, 0, kErrorNoItems);
    return;
  }
  int32_t next = currentItem + 1;
  if (next < static_cast<int32_t>(itemUrls.size())) {
    currentItem = next;
    // A start that passed over items complete on disk still reports that
    // transfers have begun.
    if (PlanItem(itemUrls[next], true) == 0 && !advance) Notify(DLGN_STARTED);
    return;
  }
  // No item left: files completed in an earlier run get their names too.
  CompleteAll();
}

void CDownloadManager::CompleteAll() {
  allDone = true;
  if (FinishDownloads(*this) != 0) {
    // Not every file has its name: nothing is launched and the part files
    // and the saved state stay for the next attempt.
    allDone = false;
    Notify(DLGN_ERROR, 0, kErrorFinalName);
    return;
  }
  Notify(DLGN_ALL_COMPLETE);
}

void CDownloadManager::OnItemDone() {
  if (CPartWorker* part = FirstRestartable()) {
    RestartPart(part);
    return;
  }
  PostSelf(MGRM_ADVANCE_ITEM);
  NotifyRecord(DLGN_ITEM_COMPLETE, 0, std::make_unique<std::u16string>(fileName));
}

}  // namespace vespar
