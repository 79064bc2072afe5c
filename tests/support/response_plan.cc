#include "tests/support/response_plan.h"

#include <algorithm>
#include <cstdio>

#include "tests/support/http_request.h"

namespace vespar::testing {

namespace {

std::shared_ptr<const std::string> Share(std::string s) {
  return std::make_shared<const std::string>(std::move(s));
}

void AddAll(std::vector<Piece>* pieces, std::shared_ptr<const std::string> data) {
  size_t n = data->size();
  pieces->push_back(Piece{std::move(data), 0, n});
}

std::string StatusPage(int status) {
  char page[128];
  std::snprintf(page, sizeof page, "<html><body><h1>%d %s</h1></body></html>\r\n", status,
                ReasonPhrase(status));
  return page;
}

}  // namespace

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string ResponsePlan::Flatten() const {
  std::string out;
  for (const Piece& p : pieces) out.append(*p.data, p.offset, p.length);
  if (send_limit >= 0 && static_cast<size_t>(send_limit) < out.size()) out.resize(send_limit);
  return out;
}

ResponsePlan PlanResponse(std::string_view method, const std::optional<std::string>& range,
                          const Resource& resource, const Fault& fault,
                          const ResponseOptions& options) {
  ResponsePlan plan;
  plan.stall_before_head = fault.stall_before_head;
  plan.ending = fault.ending;
  plan.drip_bytes = fault.drip_bytes;
  plan.drip_interval_ms = fault.drip_interval_ms;
  plan.rate_bytes_per_second =
      fault.rate_bytes_per_second > 0 ? fault.rate_bytes_per_second : options.rate_bytes_per_second;

  if (fault.raw_response) {
    AddAll(&plan.pieces, Share(*fault.raw_response));
    if (fault.cut_after >= 0) plan.send_limit = fault.cut_after;
    return plan;
  }

  const bool head_only = method == "HEAD";
  std::shared_ptr<const std::string> body = resource.body;
  std::string content_type = resource.content_type;
  size_t first = 0;
  size_t length = 0;
  std::string content_range;

  if (method != "GET" && method != "HEAD") {
    plan.status = 501;
  } else if (fault.status != 0) {
    plan.status = fault.status;
  } else if (!body) {
    plan.status = 404;
  } else {
    ByteRange r;
    RangeResult rr = range && !fault.ignore_range
                         ? ResolveRange(*range, static_cast<int64_t>(body->size()), &r)
                         : RangeResult::kNone;
    if (rr == RangeResult::kSatisfiable) {
      plan.status = 206;
      first = static_cast<size_t>(r.first);
      length = static_cast<size_t>(r.last - r.first + 1);
      content_range = "bytes " + std::to_string(r.first) + "-" + std::to_string(r.last) + "/" +
                      std::to_string(body->size());
    } else if (rr == RangeResult::kUnsatisfiable) {
      plan.status = 416;
      content_range = "bytes */" + std::to_string(body->size());
    } else {
      plan.status = 200;
      length = body->size();
    }
  }
  if (plan.status != 200 && plan.status != 206) {
    body = Share(StatusPage(plan.status));
    content_type = "text/html";
    first = 0;
    length = body->size();
  }
  if (fault.content_range) content_range = *fault.content_range;

  // With chunked coding the body goes out as one framed chunk.
  if (fault.chunked && length > 0) {
    char size_line[32];
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", length);
    body = Share(size_line + body->substr(first, length) + "\r\n0\r\n\r\n");
    first = 0;
    length = body->size();
  } else if (fault.chunked) {
    body = Share("0\r\n\r\n");
    length = body->size();
  }
  const int64_t true_length = fault.chunked ? -1 : static_cast<int64_t>(length);

  std::string head = "HTTP/1.1 " + std::to_string(plan.status) + " " +
                     ReasonPhrase(plan.status) + "\r\n";
  if (!content_type.empty()) head += "Content-Type: " + content_type + "\r\n";
  if (fault.chunked) {
    head += "Transfer-Encoding: chunked\r\n";
  } else if (fault.length == LengthFault::kNormal) {
    head += "Content-Length: " + std::to_string(true_length) + "\r\n";
  } else if (fault.length == LengthFault::kWrong) {
    head += "Content-Length: " + std::to_string(fault.wrong_length) + "\r\n";
  }
  if (!content_range.empty()) head += "Content-Range: " + content_range + "\r\n";
  if (plan.status == 200 || plan.status == 206) head += "Accept-Ranges: bytes\r\n";
  if (options.connection_close) head += "Connection: close\r\n";
  head += fault.extra_head_lines;
  head += "\r\n";

  plan.head_size = head.size();
  AddAll(&plan.pieces, Share(std::move(head)));
  if (!head_only) {
    if (length > 0) plan.pieces.push_back(Piece{body, first, length});
    if (fault.extra_bytes > 0) {
      size_t next = first + length;
      size_t from_body = next < body->size()
                             ? std::min(body->size() - next, static_cast<size_t>(fault.extra_bytes))
                             : 0;
      if (from_body > 0) plan.pieces.push_back(Piece{body, next, from_body});
      size_t filler = static_cast<size_t>(fault.extra_bytes) - from_body;
      if (filler > 0) AddAll(&plan.pieces, Share(std::string(filler, 'X')));
    }
  }
  if (fault.cut_after >= 0) plan.send_limit = static_cast<int64_t>(plan.head_size) + fault.cut_after;
  return plan;
}

}  // namespace vespar::testing
