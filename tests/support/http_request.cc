#include "tests/support/http_request.h"

#include <cctype>
#include <limits>

namespace vespar::testing {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a run of decimal digits that fills `s` entirely; false on anything
// else or on overflow.
bool ParseDecimal(std::string_view s, int64_t* value) {
  if (s.empty()) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    if (v > (std::numeric_limits<int64_t>::max() - (c - '0')) / 10) return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

size_t FindRequestHeadEnd(std::string_view bytes) {
  size_t crlf = bytes.find("\r\n\r\n");
  size_t lf = bytes.find("\n\n");
  if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf < lf))
    return crlf + 4;
  if (lf != std::string_view::npos) return lf + 2;
  return 0;
}

std::optional<std::string> RequestHead::Field(std::string_view name) const {
  for (const auto& [n, v] : fields) {
    if (EqualsNoCase(n, name)) return v;
  }
  return std::nullopt;
}

bool ParseRequestHead(std::string_view head, RequestHead* out) {
  *out = RequestHead();
  size_t eol = head.find('\n');
  std::string_view line = Trim(head.substr(0, eol));
  size_t sp1 = line.find(' ');
  if (sp1 == std::string_view::npos || sp1 == 0) return false;
  out->method = std::string(line.substr(0, sp1));
  std::string_view rest = line.substr(sp1 + 1);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  size_t sp2 = rest.find(' ');
  out->target = std::string(rest.substr(0, sp2));
  if (out->target.empty()) return false;
  if (sp2 != std::string_view::npos) out->version = std::string(Trim(rest.substr(sp2 + 1)));

  std::string_view fields = eol == std::string_view::npos ? "" : head.substr(eol + 1);
  while (!fields.empty()) {
    size_t end = fields.find('\n');
    std::string_view field = Trim(fields.substr(0, end));
    fields = end == std::string_view::npos ? "" : fields.substr(end + 1);
    size_t colon = field.find(':');
    if (field.empty() || colon == std::string_view::npos) continue;
    out->fields.emplace_back(std::string(Trim(field.substr(0, colon))),
                             std::string(Trim(field.substr(colon + 1))));
  }
  return true;
}

std::string DecodeTargetPath(std::string_view target) {
  std::string_view t = target;
  if (t.size() >= 7 && EqualsNoCase(t.substr(0, 7), "http://")) {
    t.remove_prefix(7);
    size_t slash = t.find('/');
    t = slash == std::string_view::npos ? std::string_view() : t.substr(slash);
  }
  size_t cut = t.find_first_of("?#");
  if (cut != std::string_view::npos) t = t.substr(0, cut);

  std::string path = "/";
  for (size_t i = 0; i < t.size(); ++i) {
    char c = t[i];
    if (c == '%' && i + 2 < t.size() && HexValue(t[i + 1]) >= 0 && HexValue(t[i + 2]) >= 0) {
      c = static_cast<char>(HexValue(t[i + 1]) * 16 + HexValue(t[i + 2]));
      i += 2;
      path.push_back(c);  // a decoded "%2F" is a byte of the name, not a separator
      continue;
    }
    if (c == '/' && path.back() == '/') continue;
    path.push_back(c);
  }
  return path;
}

RangeResult ResolveRange(std::string_view value, int64_t size, ByteRange* range) {
  std::string_view v = Trim(value);
  if (v.size() < 6 || !EqualsNoCase(v.substr(0, 6), "bytes=")) return RangeResult::kNone;
  v.remove_prefix(6);
  size_t dash = v.find('-');
  if (dash == std::string_view::npos) return RangeResult::kNone;
  std::string_view a = Trim(v.substr(0, dash));
  std::string_view b = Trim(v.substr(dash + 1));
  int64_t first = 0;
  int64_t last = 0;
  if (a.empty()) {  // suffix range: the last n bytes
    int64_t n = 0;
    if (!ParseDecimal(b, &n)) return RangeResult::kNone;
    if (n == 0 || size == 0) return RangeResult::kUnsatisfiable;
    first = n >= size ? 0 : size - n;
    last = size - 1;
  } else {
    if (!ParseDecimal(a, &first)) return RangeResult::kNone;
    if (b.empty()) {
      last = size - 1;
    } else if (!ParseDecimal(b, &last) || last < first) {
      return RangeResult::kNone;
    }
    if (first >= size) return RangeResult::kUnsatisfiable;
    if (last >= size) last = size - 1;
  }
  range->first = first;
  range->last = last;
  return RangeResult::kSatisfiable;
}

}  // namespace vespar::testing
