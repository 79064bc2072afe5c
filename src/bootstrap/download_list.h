#pragma once

// The download list: built from a content list URL (the configuration's, then
// the contents script's) into DownloadBases, DownloadFolders and
// DownloadNames. A "*.*" entry is expanded from the server's folder listing;
// no sub-folder is followed. Every failure is shown in a box titled
// "Failed...".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "src/bootstrap/bootstrap_options.h"

namespace vespar {

inline constexpr std::u16string_view kCrawlFailedCaption = u"Failed...";

// Crawl result codes (negative; a non-negative result is the listing's
// Content-Length).
enum CrawlResult : int64_t {
  kCrawlCannotResolve = -1,
  kCrawlRecvFailed = -1,
  kCrawlNoFiles = -1,
  kCrawlCannotCreateSocket = -2,
  kCrawlConnectFailed = -3,
  kCrawlRequestFailed = -4,
  kCrawlNotFound = -7,
  kCrawlUnsafeName = -10,
};

// Sets ContentBaseUrl to the list's base and appends one entry per file,
// each with that base. 0 on success; -1 when an entry or folder is unsafe
// (checked for the whole list before anything is fetched) or a crawl failed;
// entries added before a failed crawl stay.
int BuildDownloadList(std::u16string_view content_list_url,
                      const BootstrapOptions& options = {});

// Fetches the listing of `folder_path` (beginning with "/") from the server
// of `base` on the port the base names (80 when none) and puts the decoded
// names of the files it links directly into *names, in link order. Returns
// the Content-Length when at least one file was found, else a negative
// CrawlResult (-5, -6, -8, -9: the head could not be parsed, or names a
// listing over 64 MiB). Shows its own message for every failure. A listing
// with an unsafe name is refused whole. The head must end within its first
// 4096 bytes; a close, a reset or `options.receiveTimeoutMs` without a byte
// before the listing is complete fails with "Recv failed - folder download".
int64_t CrawlFolder(std::u16string_view base, std::u16string_view folder_path,
                    const BootstrapOptions& options, std::vector<std::u16string>* names);

// The listing request: "GET <path> HTTP/1.1\r\nHost: <host>\r\n\r\n" with the
// path percent-encoded in the wire code page, every "//" then made "/".
std::string ListingRequest(std::u16string_view folder_path, std::u16string_view host_token);

}  // namespace vespar
