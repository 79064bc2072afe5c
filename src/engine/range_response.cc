#include "src/engine/range_response.h"

#include <string>

#include "src/engine/messages.h"

namespace vespar {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A non-negative decimal number that fills `s` entirely; false otherwise or
// when it does not fit in 63 bits.
bool ParseCount(std::string_view s, int64_t* value) {
  if (s.empty() || s.size() > 18) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

bool ParseStatusLine(std::string_view line, int* status) {
  if (line.size() < 5 || !EqualsNoCase(line.substr(0, 5), "http/")) return false;
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  std::string_view rest = line.substr(space + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (rest.size() < 3) return false;
  int64_t code = 0;
  if (!ParseCount(rest.substr(0, 3), &code)) return false;
  if (rest.size() > 3 && rest[3] != ' ') return false;
  *status = static_cast<int>(code);
  return true;
}

// "bytes first-last/total" (total may be "*").
bool ParseContentRange(std::string_view value, RangeResponseHead* head) {
  if (value.size() < 6 || !EqualsNoCase(value.substr(0, 5), "bytes")) return false;
  value = Trim(value.substr(5));
  size_t dash = value.find('-');
  size_t slash = value.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
    return false;
  int64_t first = 0, last = 0, total = -1;
  if (!ParseCount(Trim(value.substr(0, dash)), &first)) return false;
  if (!ParseCount(Trim(value.substr(dash + 1, slash - dash - 1)), &last)) return false;
  std::string_view total_text = Trim(value.substr(slash + 1));
  if (total_text != "*" && !ParseCount(total_text, &total)) return false;
  head->rangeFirst = first;
  head->rangeLast = last;
  head->rangeTotal = total;
  return true;
}

}  // namespace

RangeResponseHead ParseRangeResponseHead(std::string_view head) {
  RangeResponseHead result;
  size_t pos = 0;
  bool first_line = true;
  while (pos < head.size()) {
    size_t end = head.find('\n', pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = Trim(head.substr(pos, end - pos));
    pos = end + 1;
    if (first_line) {
      first_line = false;
      result.statusLine = ParseStatusLine(line, &result.status);
      if (!result.statusLine) return result;
      continue;
    }
    if (line.empty()) break;  // end of the head
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = Trim(line.substr(0, colon));
    std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsNoCase(name, "content-length")) {
      int64_t length = 0;
      if (!ParseCount(value, &length)) continue;
      if (result.hasContentLength && result.contentLength != length)
        result.conflicting = true;
      result.hasContentLength = true;
      result.contentLength = length;
    } else if (EqualsNoCase(name, "content-range")) {
      RangeResponseHead parsed;
      if (!ParseContentRange(value, &parsed)) continue;
      if (result.hasContentRange &&
          (parsed.rangeFirst != result.rangeFirst ||
           parsed.rangeLast != result.rangeLast || parsed.rangeTotal != result.rangeTotal))
        result.conflicting = true;
      result.hasContentRange = true;
      result.rangeFirst = parsed.rangeFirst;
      result.rangeLast = parsed.rangeLast;
      result.rangeTotal = parsed.rangeTotal;
    }
  }
  return result;
}

int CheckRangeResponse(const RangeResponseHead& head, int64_t first, int64_t last,
                       int64_t fileSize) {
  if (!head.statusLine || head.conflicting) return kErrorRangeRefused;
  if (head.status == 206) {
    if (!head.hasContentRange || head.rangeFirst != first || head.rangeLast != last ||
        head.rangeTotal != fileSize)
      return kErrorRangeRefused;
    if (head.hasContentLength && head.contentLength != last - first + 1)
      return kErrorRangeRefused;
    return 0;
  }
  if (head.status == 200) {
    bool whole_file = first == 0 && last == fileSize - 1;
    if (!whole_file || !head.hasContentLength || head.contentLength != fileSize)
      return kErrorRangeRefused;
    return 0;
  }
  // A status that cannot carry the range: report it as it is (404 is a
  // missing file); a status outside the valid range is no answer at all.
  if (head.status < 100 || head.status > 599) return kErrorRangeRefused;
  return head.status;
}

}  // namespace vespar
