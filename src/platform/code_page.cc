#include "src/platform/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace vespar {
namespace {

constexpr char kWireCodePage[] = "CP949";
constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A lone surrogate becomes "?", so converters only ever see valid UTF-16.
std::u16string ReplaceLoneSurrogates(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      out.push_back(c);
      out.push_back(text[++i]);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out.push_back(u'?');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// One conversion with iconv. When iconv stops at a unit it cannot convert
// (EILSEQ: unmappable or invalid; EINVAL: truncated at the end) the output
// gets `replacement` and the input moves on by `skip(in, left)` bytes.
template <typename Skip>
std::string Convert(const char* to, const char* from, const char* in,
                    size_t in_left, std::string_view replacement, Skip skip) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(in_left * 2 + 16);
  size_t used = 0;
  char* in_ptr = const_cast<char*>(in);
  while (in_left > 0) {
    if (out.size() - used < 16) out.resize(out.size() * 2);
    char* out_ptr = out.data() + used;
    size_t out_left = out.size() - used;
    size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    used = out_ptr - out.data();
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else if (errno == EILSEQ || errno == EINVAL) {
      if (out.size() - used < replacement.size()) out.resize(out.size() * 2);
      std::memcpy(out.data() + used, replacement.data(), replacement.size());
      used += replacement.size();
      size_t n = std::min(skip(in_ptr, in_left), in_left);
      in_ptr += n;
      in_left -= n;
    } else {
      break;
    }
  }
  // Flush any shift state (CP949 has none, but iconv asks for it).
  for (;;) {
    if (out.size() - used < 16) out.resize(out.size() + 16);
    char* out_ptr = out.data() + used;
    size_t out_left = out.size() - used;
    size_t rc = iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
    used = out_ptr - out.data();
    if (rc != static_cast<size_t>(-1) || errno != E2BIG) break;
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(char32_t cp, std::u16string* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

// Decodes one UTF-8 sequence at text[*pos]. On an invalid or truncated
// sequence it returns false and moves past the longest prefix that could have
// started a valid sequence (at least one byte), so one "?" stands for it.
bool DecodeUtf8(std::string_view text, size_t* pos, char32_t* cp) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(*pos);
  int extra;
  unsigned char lo = 0x80, hi = 0xBF;  // valid range of the second byte
  if (lead < 0x80) {
    *cp = lead;
    ++*pos;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    *cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    *cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    *cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    ++*pos;
    return false;
  }
  size_t i = *pos + 1;
  for (int k = 0; k < extra; ++k, ++i) {
    unsigned char min = k == 0 ? lo : 0x80, max = k == 0 ? hi : 0xBF;
    if (i >= text.size() || byte(i) < min || byte(i) > max) {
      *pos = i;
      return false;
    }
    *cp = (*cp << 6) | (byte(i) & 0x3F);
  }
  *pos = i;
  return true;
}

}  // namespace

std::string ToWire(std::u16string_view text) {
  std::u16string clean = ReplaceLoneSurrogates(text);
  const char* in = reinterpret_cast<const char*>(clean.data());
  size_t in_bytes = clean.size() * sizeof(char16_t);
  // An unmappable character is skipped whole: two units for a pair.
  auto skip = [](const char* at, size_t left) -> size_t {
    char16_t c;
    std::memcpy(&c, at, sizeof c);
    return IsHighSurrogate(c) && left >= 4 ? 4 : 2;
  };
  return Convert(kWireCodePage, kUtf16Native, in, in_bytes, "?", skip);
}

std::u16string FromWire(std::string_view bytes) {
  static constexpr char16_t kQuestion = u'?';
  std::string_view replacement(reinterpret_cast<const char*>(&kQuestion),
                               sizeof kQuestion);
  std::string raw =
      Convert(kUtf16Native, kWireCodePage, bytes.data(), bytes.size(),
              replacement, [](const char*, size_t) -> size_t { return 1; });
  std::u16string out(raw.size() / sizeof(char16_t), u'\0');
  std::memcpy(out.data(), raw.data(), out.size() * sizeof(char16_t));
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() &&
        IsLowSurrogate(text[i + 1])) {
      char32_t cp = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
      AppendUtf8(cp, &out);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out.push_back('?');
    } else {
      AppendUtf8(c, &out);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    char32_t cp;
    if (DecodeUtf8(bytes, &pos, &cp)) {
      AppendUtf16(cp, &out);
    } else {
      out.push_back(u'?');
    }
  }
  return out;
}

}  // namespace vespar
