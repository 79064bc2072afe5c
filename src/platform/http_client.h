#pragma once

// The platform HTTP client (libcurl) of the configuration fetch and the
// contents script: one GET, HTTP/1.0, no cache, redirects followed over http
// only. Any other HTTP traffic of the program runs on its own sockets.
//
// Error numbers: kHttpErrorBase + the libcurl code of the failed step, e.g.
// 12006 the host name cannot be resolved, 12007 no connection, 12028 timed
// out (no connection within the connect time-out, or no progress within the
// stall time-out), 12018 the body ended early, 12047 too many redirects,
// 12001 a redirect to a scheme other than http.

#include <functional>
#include <string>
#include <string_view>

namespace vespar {

inline constexpr int kHttpErrorBase = 12000;
// The client could not be set up at all (libcurl's CURLE_FAILED_INIT).
inline constexpr int kHttpInitFailed = kHttpErrorBase + 2;
// Body blocks are handed on in a 65,000-byte buffer with room for a NUL.
inline constexpr size_t kHttpMaxBlock = 64999;

struct HttpGetRequest {
  // "http://host[:port]/path[?query]" in the wire code page. Bytes a URL
  // cannot carry (blanks, controls, bytes from 0x80 up, ...) are
  // percent-encoded on the way; "%" is kept as it stands.
  std::string url;
  std::string agent = "Download";
  int connectTimeoutMs = 10000;
  int stallTimeoutS = 30;  // no byte for this long aborts the transfer
  int maxRedirects = 5;
};

struct HttpGetResult {
  int error = 0;   // 0, or kHttpErrorBase + the libcurl code
  int status = 0;  // status of the last answer; 0 when none arrived
};

// Receives the body in order, in blocks of at most kHttpMaxBlock bytes.
using HttpBlockCallback = std::function<void(std::string_view block)>;

// Sends the GET and waits for the answer. Only the body of a 200 answer is
// read and handed to `on_block`; for any other status the transfer ends once
// the head has arrived and the result carries that status with error 0.
HttpGetResult HttpGet(const HttpGetRequest& request, const HttpBlockCallback& on_block);

// The URL as it goes on the wire: bytes below 0x21, 0x7F and up, and
// " < > \ ^ ` { | } percent-encoded (upper-case hex); all else unchanged.
std::string EscapeRequestUrl(std::string_view url);

}  // namespace vespar
