#include "src/platform/http_client.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace vespar {
namespace {

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool InitCurlOnce() {
  static std::once_flag once;
  static CURLcode code = CURLE_OK;
  std::call_once(once, [] { code = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return code == CURLE_OK;
}

struct Transfer {
  CURL* curl = nullptr;
  const HttpBlockCallback* onBlock = nullptr;
  bool skippedBody = false;  // the answer was not a 200: its body is not read
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t total = size * count;
  long status = 0;
  curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    transfer->skippedBody = true;
    return 0;  // a short count makes libcurl stop here
  }
  for (size_t at = 0; at < total; at += kHttpMaxBlock) {
    size_t n = std::min(kHttpMaxBlock, total - at);
    if (*transfer->onBlock) (*transfer->onBlock)(std::string_view(data + at, n));
  }
  return total;
}

bool NeedsEscape(unsigned char c) {
  if (c < 0x21 || c >= 0x7F) return true;
  switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`':
    case '{': case '|': case '}':
      return true;
    default:
      return false;
  }
}

// Proxies come from the environment as with any command-line client, but a
// loopback address is always reached directly.
std::string NoProxyList() {
  std::string list = "localhost,127.0.0.0/8,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return list + "," + value;
  }
  return list;
}

}  // namespace

std::string EscapeRequestUrl(std::string_view url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (char ch : url) {
    auto c = static_cast<unsigned char>(ch);
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}

HttpGetResult HttpGet(const HttpGetRequest& request, const HttpBlockCallback& on_block) {
  HttpGetResult result;
  if (!InitCurlOnce()) {
    result.error = kHttpInitFailed;
    return result;
  }
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) {
    result.error = kHttpInitFailed;
    return result;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headers;
  for (const char* line : {"Pragma: no-cache", "Cache-Control: no-cache"}) {
    curl_slist* grown = curl_slist_append(headers.get(), line);
    if (!grown) {
      result.error = kHttpInitFailed;
      return result;
    }
    headers.release();
    headers.reset(grown);
  }

  Transfer transfer{curl.get(), &on_block};
  const std::string url = EscapeRequestUrl(request.url);
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(request.maxRedirects));
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, request.agent.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  const std::string no_proxy = NoProxyList();
  curl_easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.stallTimeoutS));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnWrite);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);

  CURLcode code = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  result.status = static_cast<int>(status);
  // Once an error answer's head has arrived, its status is the result: a body
  // that is cut short or abandoned does not change it.
  const bool status_decides = transfer.skippedBody || result.status >= 400;
  if (code != CURLE_OK && !status_decides) {
    result.error = kHttpErrorBase + static_cast<int>(code);
  }
  return result;
}

}  // namespace vespar
