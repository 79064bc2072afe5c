#include "src/net/head_probe.h"

#include <chrono>
#include <limits>

#include "src/net/connection.h"
#include "src/net/url.h"
#include "src/platform/code_page.h"
#include "src/platform/text.h"

namespace vespar {

namespace {

constexpr size_t kHeadBuffer = 4096;  // the head and its terminator
constexpr std::string_view kHeadEnd = "\r\n\r\n";

std::u16string WithoutBlanks(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text)
    if (c != u' ' && c != u'\t') out.push_back(c);
  return out;
}

// Value of the first `name` field: the text between the ":" and the "\r\n"
// that follow the name, blanks removed. False when either is missing.
bool FieldValue(std::u16string_view head, std::u16string_view name,
                std::u16string* value) {
  size_t at = head.find(name);
  if (at == std::u16string_view::npos) return false;
  size_t colon = head.find(u':', at);
  size_t eol = head.find(u"\r\n", at);
  if (colon == std::u16string_view::npos || eol == std::u16string_view::npos)
    return false;
  *value = colon < eol ? WithoutBlanks(head.substr(colon + 1, eol - colon - 1))
                       : std::u16string();
  return true;
}

// Leading decimal digits as a length. -1 when there are none, the value is
// negative, or it does not fit in 63 bits: none of these is a usable size.
int64_t ParseLength(std::u16string_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'+') ++i;
  if (i < text.size() && text[i] == u'-') return -1;
  int64_t value = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
    int d = text[i] - u'0';
    if (value > (std::numeric_limits<int64_t>::max() - d) / 10) return -1;
    value = value * 10 + d;
  }
  return digits > 0 ? value : -1;
}

// The status code: atoi of the text between the first blank and the next,
// which must lie in the first line. 0 when the line cannot be read.
int16_t StatusOf(std::u16string_view text) {
  constexpr size_t npos = std::u16string_view::npos;
  size_t eol = text.find(u"\r\n");
  size_t blank = text.find(u' ');
  if (text.find(u"http/1.") == npos || blank == npos) return 0;
  size_t next_blank = text.find(u' ', blank + 1);
  if (next_blank == npos) return 0;  // no status text
  if (eol != npos && next_blank > eol) return 0;
  int32_t code = AtoI(text.substr(blank + 1, next_blank - blank - 1));
  return static_cast<int16_t>(static_cast<uint16_t>(code));
}

}  // namespace

size_t FindHeadEnd(std::string_view bytes) {
  return bytes.find(kHeadEnd, 1);
}

ProbeHead ParseProbeHead(std::string_view head) {
  ProbeHead result;
  // The head is read as text: a NUL ends it. A head that holds one is broken,
  // so no length is taken from it, but its status line still counts.
  size_t nul = head.find('\0');
  std::u16string text = ToLowerAscii(FromWire(head.substr(0, nul)));
  result.status = StatusOf(text);
  std::u16string value;
  if (nul == std::string_view::npos && FieldValue(text, u"content-length", &value)) {
    result.hasContentLength = true;
    int64_t length = ParseLength(value);
    result.contentLength = length > 0 ? length : 0;
  }
  if (FieldValue(text, u"connection", &value)) result.connectionClose = value == u"close";
  return result;
}

int64_t HeadProbe(Connection& c, std::u16string_view url, int receive_timeout_ms) {
  c.status = 0;
  std::string request = "HEAD " + UrlEncode(ToWire(url)) + " HTTP/1.0\r\n\r\n";
  if (SendAll(c, request) != 0) return 0;

  // The whole head must arrive within the time-out, however it is cut up.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(receive_timeout_ms);
  char buffer[kHeadBuffer];
  size_t received = 0;
  size_t end = std::string_view::npos;
  while (end == std::string_view::npos) {
    size_t room = kHeadBuffer - 1 - received;
    if (room == 0) return 0;  // full, and still no end of the head
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    int wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    if (receive_timeout_ms < 0) wait_ms = -1;
    int n = ReceiveSome(c, buffer + received, room, wait_ms);
    if (n <= 0) return 0;  // error, time-out, or closed before the end of the head
    received += static_cast<size_t>(n);
    end = FindHeadEnd(std::string_view(buffer, received));
  }

  ProbeHead head = ParseProbeHead(std::string_view(buffer, end + kHeadEnd.size()));
  c.status = head.status;
  if (head.status != 200 || !head.hasContentLength) return 0;
  if (head.connectionClose) CloseSocket(c);
  return head.contentLength;
}

}  // namespace vespar
