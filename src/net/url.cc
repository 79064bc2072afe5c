#include "src/net/url.h"

#include <array>

#include "src/platform/code_page.h"
#include "src/platform/text.h"

namespace vespar {

namespace {

constexpr size_t kUtf8ToAnsiLimit = 6999;  // 7000 bytes with the terminator

std::u16string BeforeFirstSlash(std::u16string_view text) {
  size_t slash = text.find(u'/');
  if (slash == std::u16string_view::npos) return std::u16string();
  return std::u16string(text.substr(0, slash));
}

// Field `index` of `text` split at `separator`; empty when there are fewer.
std::u16string_view Field(std::u16string_view text, char16_t separator,
                          size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    size_t next = text.find(separator, start);
    if (next == std::u16string_view::npos) return std::u16string_view();
    start = next + 1;
  }
  size_t end = text.find(separator, start);
  if (end == std::u16string_view::npos) end = text.size();
  return text.substr(start, end - start);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsKeptByEncode(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
    return true;
  switch (c) {
    case '.': case '/': case '-': case '_': case ':': case '(': case ')':
      return true;
    default:
      return false;
  }
}

// Length of the longest prefix of `bytes` (wire code page) that is at most
// `limit` bytes and ends on a character boundary: a byte from 0x81 up opens
// a double-byte character.
size_t WholeCharacterPrefix(std::string_view bytes, size_t limit) {
  size_t i = 0;
  while (i < bytes.size()) {
    size_t width = static_cast<unsigned char>(bytes[i]) >= 0x81 ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return i;
}

}  // namespace

std::u16string GetUrlHost(std::u16string_view url) {
  static constexpr std::array<std::u16string_view, 4> kPrefixes = {
      u"http://www.", u"http://", u"http:www.", u"www."};
  std::u16string lower = ToLowerAscii(url);
  for (std::u16string_view prefix : kPrefixes) {
    if (lower.find(prefix) == std::u16string::npos) continue;
    std::u16string rest(url);
    ReplaceAllNoCase(rest, prefix, u"");
    return BeforeFirstSlash(rest);
  }
  return std::u16string();
}

std::u16string GetUrlHostLower(std::u16string_view url) {
  std::u16string lower = ToLowerAscii(url);
  ReplaceAll(lower, u"http://", u"");
  return BeforeFirstSlash(lower);
}

uint16_t GetUrlPort(std::u16string_view host_token) {
  size_t colon = host_token.find(u':');
  if (colon == std::u16string_view::npos) return 80;
  int32_t value = AtoI(ToWire(host_token.substr(colon + 1)));
  return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

std::u16string HostNameOfToken(std::u16string_view host_token) {
  return std::u16string(host_token.substr(0, host_token.find(u':')));
}

UrlParts SplitUrl(std::u16string_view url) {
  UrlParts parts;
  std::string wire = ToWire(url);
  size_t first_slash = wire.find('/');
  if (first_slash == std::string::npos) {
    parts.port = 80;
    parts.path = "/";
    return parts;
  }

  std::u16string_view host_field = Field(url, u'/', 2);
  std::u16string_view port_text = Field(host_field, u':', 1);
  if (port_text.empty()) {
    parts.host = ToWire(host_field);
    parts.port = 80;
  } else {
    parts.host = ToWire(Field(host_field, u':', 0));
    parts.port = AtoI(ToWire(port_text));
  }

  // The wire code page never uses "/" as the second byte of a character, so
  // cutting the bytes at "/" is safe.
  std::string_view rest = std::string_view(wire).substr(first_slash);
  for (int i = 0; i < 3; ++i) {
    size_t slash = rest.find('/');
    if (slash != std::string_view::npos) rest.remove_prefix(slash + 1);
  }
  parts.path = "/";
  parts.path.append(rest);
  return parts;
}

std::string UrlEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsKeptByEncode(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::string UrlDecode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '%' && i + 2 < bytes.size() && HexValue(bytes[i + 1]) >= 0 &&
        HexValue(bytes[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(bytes[i + 1]) * 16 +
                                      HexValue(bytes[i + 2])));
      i += 2;
    } else if (c == '+') {
      out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  if (utf8.empty()) return std::string();
  std::string wire = ToWire(FromUtf8(utf8));
  if (wire.size() > kUtf8ToAnsiLimit)
    wire.resize(WholeCharacterPrefix(wire, kUtf8ToAnsiLimit));
  return wire;
}

}  // namespace vespar
