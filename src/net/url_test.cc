#include "src/net/url.h"

#include <gtest/gtest.h>

#include <string>

#include "src/platform/code_page.h"

namespace vespar {
namespace {

std::string Printable(std::u16string_view text) { return ToUtf8(text); }

std::string Hex(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

TEST(UrlTest, GetUrlHost) {
  static const struct {
    const char16_t* url;
    const char16_t* host;
  } kCases[] = {
      {u"http://www.example.com/files/a.zip", u"example.com"},
      {u"http://example.com/files/a.zip", u"example.com"},
      {u"www.example.com/files/a.zip", u"example.com"},
      {u"HTTP://WWW.Example.COM/files/a.zip", u"Example.COM"},
      {u"Http://Example.COM/files", u"Example.COM"},
      {u"WWW.Example.COM/files", u"Example.COM"},
      {u"http:www.example.com/files/a.zip", u"example.com"},
      {u"http:WWW.Example.com/x", u"Example.com"},
      // Nothing after the host, or no recognised prefix: no host token.
      {u"http://example.com", u""},
      {u"www.example.com", u""},
      {u"ftp://example.com/files/a.zip", u""},
      {u"example.com/files", u""},
      {u"", u""},
      {u"http://", u""},
      {u"http:///a", u""},
      // A port stays in the token.
      {u"http://10.0.0.1:8080/files/a.zip", u"10.0.0.1:8080"},
      {u"http://www.example.com:81/", u"example.com:81"},
      // "www." inside a name is not a prefix when "http://" comes first.
      {u"http://a.www.example.com/x", u"a.www.example.com"},
      {u"http://wwwx.com/x", u"wwwx.com"},
      // Every occurrence of the chosen prefix goes, wherever it stands.
      {u"http://host/mirror/http://other/x", u"host"},
      {u"xhttp://host/x", u"xhost"},
      {u"http://www.h/www.x/http://www.y", u"h"},
      // Non-ASCII host names keep their text.
      {u"http://다운로드.kr/a", u"다운로드.kr"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Printable(c.url));
    EXPECT_EQ(Printable(GetUrlHost(c.url)), Printable(c.host));
  }
}

TEST(UrlTest, GetUrlHostLower) {
  static const struct {
    const char16_t* url;
    const char16_t* host;
  } kCases[] = {
      {u"http://www.Example.com/files", u"www.example.com"},
      {u"HTTP://Host:81/files", u"host:81"},
      {u"www.Host/files", u"www.host"},
      {u"http://host", u""},
      {u"", u""},
      {u"ftp://Host/x", u"ftp:"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Printable(c.url));
    EXPECT_EQ(Printable(GetUrlHostLower(c.url)), Printable(c.host));
  }
}

TEST(UrlTest, GetUrlPortAndHostName) {
  static const struct {
    const char16_t* token;
    uint16_t port;
    const char16_t* name;
  } kCases[] = {
      {u"example.com", 80, u"example.com"},
      {u"10.0.0.1:8080", 8080, u"10.0.0.1"},
      {u"host:", 0, u"host"},
      {u"host:80abc", 80, u"host"},
      {u"host: 81", 81, u"host"},
      {u"host:x", 0, u"host"},
      {u"host:65536", 0, u"host"},
      {u"host:65617", 81, u"host"},
      {u"host:-1", 65535, u"host"},
      {u"host:1:2", 1, u"host"},
      {u"host:99999999999999999999", 65535, u"host"},
      {u":8080", 8080, u""},
      {u"", 80, u""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Printable(c.token));
    EXPECT_EQ(GetUrlPort(c.token), c.port);
    EXPECT_EQ(Printable(HostNameOfToken(c.token)), Printable(c.name));
  }
}

TEST(UrlTest, SplitUrl) {
  static const struct {
    const char16_t* url;
    const char* host;
    int32_t port;
    const char* path;
  } kCases[] = {
      {u"http://cfg.example.com:8080/game/vespar.ini", "cfg.example.com", 8080,
       "/game/vespar.ini"},
      {u"http://cfg.example.com/game/vespar.ini", "cfg.example.com", 80,
       "/game/vespar.ini"},
      {u"http://h/a/b?x=1&y=2", "h", 80, "/a/b?x=1&y=2"},
      {u"http://h/", "h", 80, "/"},
      {u"http://h", "h", 80, "/h"},
      {u"http://h:81", "h", 81, "/h:81"},
      // An empty port text keeps the colon in the host and means port 80.
      {u"http://h:/x", "h:", 80, "/x"},
      {u"http://h:abc/x", "h", 0, "/x"},
      {u"http://h:99999999999/x", "h", 2147483647, "/x"},
      // No "/" at all: no host.
      {u"cfg.example.com", "", 80, "/"},
      {u"", "", 80, "/"},
      {u"/x", "", 80, "/x"},
      // Host and path go to the wire code page.
      {u"http://h/가.ini", "h", 80, "/\xB0\xA1.ini"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Printable(c.url));
    UrlParts parts = SplitUrl(c.url);
    EXPECT_EQ(parts.host, c.host);
    EXPECT_EQ(parts.port, c.port);
    EXPECT_EQ(Hex(parts.path), Hex(c.path));
  }
}

TEST(UrlTest, UrlEncode) {
  static const struct {
    std::string_view in;
    std::string_view out;
  } kCases[] = {
      {"AZaz09", "AZaz09"},
      {"./-_:()", "./-_:()"},
      {" ", "%20"},
      {"%", "%25"},
      {"\xB0", "%B0"},
      {"\xFF\x80\x7F", "%FF%80%7F"},
      {"?&=+~", "%3F%26%3D%2B%7E"},
      {"\x01\r\n", "%01%0D%0A"},
      {std::string_view("\0", 1), "%00"},
      {"http://h:81/a b/\xB0\xA1.zip", "http://h:81/a%20b/%B0%A1.zip"},
      {"%20", "%2520"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Hex(c.in));
    EXPECT_EQ(UrlEncode(c.in), c.out);
  }
}

TEST(UrlTest, UrlDecode) {
  static const struct {
    std::string_view in;
    std::string_view out;
  } kCases[] = {
      {"a%20b", "a b"},
      {"a+b", "a b"},
      {"%2Fx%2fy", "/x/y"},
      {"%E9%b0", "\xE9\xB0"},
      {"%2B", "+"},
      {"%00", std::string_view("\0", 1)},
      {"plain.zip", "plain.zip"},
      // A "%" without two hexadecimal digits after it stays as it is.
      {"%", "%"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz", "%zz"},
      {"%4g", "%4g"},
      {"% 41", "% 41"},
      {"%%41", "%A"},
      {"%+1", "% 1"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Hex(c.in));
    EXPECT_EQ(Hex(UrlDecode(c.in)), Hex(c.out));
  }
}

TEST(UrlTest, EncodeThenDecodeGivesEveryByteBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(UrlDecode(UrlEncode(all)), all);
}

TEST(UrlTest, Utf8ToAnsi) {
  static const struct {
    std::string_view in;
    std::string_view out;
  } kCases[] = {
      {"", ""},
      {"abc.zip", "abc.zip"},
      {"\xEA\xB0\x80.zip", "\xB0\xA1.zip"},   // "가"
      {"\xE0\xB8\x81", "?"},                  // Thai, not in the code page
      {"a\xFF" "b", "a?b"},                   // invalid UTF-8
      {std::string_view("a\0b", 3), std::string_view("a\0b", 3)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Hex(c.in));
    EXPECT_EQ(Hex(Utf8ToAnsi(c.in)), Hex(c.out));
  }
}

TEST(UrlTest, Utf8ToAnsiStopsAtItsLimitOnACharacterBoundary) {
  const std::string kHangul = "\xEA\xB0\x80";  // two bytes in the wire code page
  std::string hangul_3500;
  for (int i = 0; i < 3500; ++i) hangul_3500 += kHangul;

  static const struct {
    const char* name;
    std::string prefix;
    size_t size;
  } kCases[] = {
      {"ascii", std::string(7000, 'a'), 6999},
      {"exactly the limit", std::string(6999, 'a'), 6999},
      {"double-byte, even limit", "", 6998},
      {"double-byte after one ascii", "a", 6999},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string in = c.prefix;
    if (c.prefix.size() < 2) in += hangul_3500;
    std::string out = Utf8ToAnsi(in);
    ASSERT_EQ(out.size(), c.size);
    // The output is the start of the full conversion, ending on a whole
    // character.
    std::string full = ToWire(FromUtf8(in));
    EXPECT_EQ(full.compare(0, out.size(), out), 0);
    if (c.prefix.size() < 2) {
      EXPECT_EQ(out.substr(out.size() - 2), "\xB0\xA1");
    }
  }
}

}  // namespace
}  // namespace vespar
