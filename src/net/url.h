#pragma once

// URL handling of the HTTP client over sockets. Pure functions of their input,
// safe on any thread, defined for any string.

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar {

// Host, path and port of a URL as the configuration fetch needs them.
struct UrlParts {
  std::string host;  // wire code page
  std::string path;  // wire code page, always begins with "/", query included
  int32_t port = 0;
};

// Host token ("host" or "host:port") of a URL, "www." dropped; empty when
// the URL has no recognised prefix or no "/" after the host.
std::u16string GetUrlHost(std::u16string_view url);

// Lower-cased URL with every "http://" removed, cut before the first "/";
// "www." stays. Empty when no "/" remains.
std::u16string GetUrlHostLower(std::u16string_view url);

// Port of a host token: 80 without ":", else atoi of the rest, low 16 bits.
uint16_t GetUrlPort(std::u16string_view host_token);

// The host name of a host token: the text before its first ":".
std::u16string HostNameOfToken(std::u16string_view host_token);

// Host field = the text between the second and third "/"; its ":" part gives
// the port (atoi; 80 when there is no port text). Path = "/" followed by
// everything after the host field ("/" plus the host field when nothing
// follows it). A URL with no "/" at all has no host: host empty, port 80,
// path "/".
UrlParts SplitUrl(std::u16string_view url);

// Percent-encodes every byte but ASCII letters, digits and . / - _ : ( ).
std::string UrlEncode(std::string_view bytes);

// "%" and two hexadecimal digits give one byte, "+" gives a blank; a "%" not
// followed by two hexadecimal digits is kept literally.
std::string UrlDecode(std::string_view bytes);

// UTF-8 to the wire code page; characters the code page lacks become "?".
// At most 6999 bytes of output (the 7000-byte buffer holds the terminator
// too); a longer result is cut before the first character that does not fit
// whole, never inside a double-byte character. NUL bytes are kept, so a later
// name check sees them.
std::string Utf8ToAnsi(std::string_view utf8);

}  // namespace vespar
