#include "src/bootstrap/download_list.h"

#include "src/bootstrap/content_list.h"
#include "src/bootstrap/globals.h"
#include "src/bootstrap/listing_head.h"
#include "src/bootstrap/listing_scanner.h"
#include "src/platform/safe_names.h"
#include "src/net/connection.h"
#include "src/net/head_probe.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "src/platform/prompt.h"
#include "src/platform/text.h"

namespace vespar {
namespace {

constexpr size_t kReceiveBuffer = 4096;
// A listing is read whole into memory; a larger length is taken for a broken
// head rather than a folder (64 MiB is some half a million links).
constexpr int64_t kMaxListingBytes = 64 << 20;

void Fail(std::u16string_view text) {
  ShowMessage(std::u16string(text), std::u16string(kCrawlFailedCaption));
}

// Refuses the whole list when any entry would leave the download folder.
bool CheckEntries(const ContentList& list) {
  for (const ContentEntry& entry : list.entries) {
    if (!IsSafeRelativePath(entry.folder)) {
      Fail(u"Invalid folder " + PrintableName(entry.folder) + u"- folder download");
      return false;
    }
    if (entry.name != kEveryFileName && !IsSafeFileName(entry.name)) {
      Fail(u"Invalid file name " + PrintableName(entry.name) + u"- folder download");
      return false;
    }
  }
  return true;
}

// Reads until the head is complete; it must end within the first 4096 bytes.
// False on a receive failure, an early close, a time-out or an oversize head.
bool ReceiveHead(Connection& c, int timeout_ms, std::string* text, size_t* head_end) {
  char buffer[kReceiveBuffer];
  while (true) {
    int n = ReceiveSome(c, buffer, sizeof buffer, timeout_ms);
    if (n <= 0) return false;
    text->append(buffer, static_cast<size_t>(n));
    size_t end = FindHeadEnd(*text);
    if (end != std::string::npos) {
      *head_end = end + 4;
      return *head_end <= kReceiveBuffer;
    }
    if (text->size() >= kReceiveBuffer) return false;
  }
}

bool ReceiveBody(Connection& c, int timeout_ms, int64_t length, std::string* body) {
  char buffer[kReceiveBuffer];
  while (static_cast<int64_t>(body->size()) < length) {
    int n = ReceiveSome(c, buffer, sizeof buffer, timeout_ms);
    if (n <= 0) return false;
    body->append(buffer, static_cast<size_t>(n));
  }
  body->resize(static_cast<size_t>(length));
  return true;
}

}  // namespace

std::string ListingRequest(std::u16string_view folder_path, std::u16string_view host_token) {
  std::string request = "GET " + UrlEncode(ToWire(folder_path)) + " HTTP/1.1\r\nHost: " +
                        ToWire(host_token) + "\r\n\r\n";
  ReplaceAll(request, "//", "/");
  return request;
}

int64_t CrawlFolder(std::u16string_view base, std::u16string_view folder_path,
                    const BootstrapOptions& options, std::vector<std::u16string>* names) {
  const std::u16string host = GetUrlHost(base);
  const uint16_t port = GetUrlPort(host);
  uint32_t address = 0;
  if (ResolveHost(host, &address) != 1) {
    Fail(u"Can not resolve hostname - folder download");
    return kCrawlCannotResolve;
  }
  Connection c;
  if (OpenSocket(c) != 0) {
    Fail(u"Can not create socket - folder download");
    return kCrawlCannotCreateSocket;
  }
  if (ConnectTimeout(c, port, address, options.connectTimeoutMs) != 0) {
    Fail(u"Connect failed - folder download");
    return kCrawlConnectFailed;
  }
  if (SendAll(c, ListingRequest(folder_path, host)) != 0) {
    Fail(u"Request failed - folder download");
    return kCrawlRequestFailed;
  }

  std::string text;
  size_t head_end = 0;
  if (!ReceiveHead(c, options.receiveTimeoutMs, &text, &head_end)) {
    Fail(u"Recv failed - folder download");
    return kCrawlRecvFailed;
  }
  ListingHead head = ParseListingHead(std::string_view(text).substr(0, head_end));
  if (head.outcome == ListingHeadOutcome::kNotFound) {
    Fail(u"Not found " + std::u16string(folder_path) + u"- folder download");
    return kCrawlNotFound;
  }
  if (head.outcome == ListingHeadOutcome::kOk && head.contentLength > kMaxListingBytes) {
    head.outcome = ListingHeadOutcome::kLengthBroken;
  }
  if (head.outcome != ListingHeadOutcome::kOk) {
    Fail(u"Http parsing error - folder download");
    return ListingHeadResultCode(head.outcome);
  }
  std::string body = text.substr(head_end);
  if (!ReceiveBody(c, options.receiveTimeoutMs, head.contentLength, &body)) {
    Fail(u"Recv failed - folder download");
    return kCrawlRecvFailed;
  }
  CloseSocket(c);

  std::vector<std::u16string> found;
  for (const std::string& link : ScanListingLinks(body)) {
    std::optional<std::u16string> name = LinkFileName(link);
    if (!name) continue;
    if (!IsSafeFileName(*name)) {
      Fail(u"Invalid file name " + PrintableName(*name) + u"- folder download");
      return kCrawlUnsafeName;
    }
    found.push_back(std::move(*name));
  }
  if (found.empty()) {
    Fail(u"Not exist file in " + std::u16string(folder_path) + u"- folder download");
    return kCrawlNoFiles;
  }
  names->insert(names->end(), found.begin(), found.end());
  return head.contentLength;
}

int BuildDownloadList(std::u16string_view content_list_url, const BootstrapOptions& options) {
  ContentList list = ParseContentList(content_list_url);
  ContentBaseUrl = list.base;
  if (!CheckEntries(list)) return -1;

  for (const ContentEntry& entry : list.entries) {
    if (entry.name != kEveryFileName) {
      DownloadBases.push_back(list.base);
      DownloadFolders.push_back(entry.folder);
      DownloadNames.push_back(entry.name);
      continue;
    }
    const std::u16string path = u"/" + entry.folder;
    std::vector<std::u16string> names;
    if (CrawlFolder(list.base, path, options, &names) < 0) return -1;
    for (std::u16string& name : names) {
      DownloadBases.push_back(list.base);
      DownloadFolders.push_back(path);
      DownloadNames.push_back(std::move(name));
    }
  }
  return 0;
}

}  // namespace vespar
