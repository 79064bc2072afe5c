#include "src/platform/text.h"

#include <limits>

namespace vespar {
namespace {

template <typename Char>
Char LowerAscii(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
bool EqualNoCase(std::basic_string_view<Char> a,
                 std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

template <typename Char>
size_t FindNoCaseImpl(std::basic_string_view<Char> haystack,
                      std::basic_string_view<Char> needle, size_t from) {
  if (from > haystack.size() || needle.size() > haystack.size() - from)
    return std::basic_string_view<Char>::npos;
  for (size_t i = from; i + needle.size() <= haystack.size(); ++i) {
    if (EqualNoCase(haystack.substr(i, needle.size()), needle)) return i;
  }
  return std::basic_string_view<Char>::npos;
}

// Finder is called as finder(text, needle, from) and returns npos or a position.
template <typename Char, typename Finder>
size_t ReplaceAllImpl(std::basic_string<Char>& text,
                      std::basic_string_view<Char> from,
                      std::basic_string_view<Char> to, Finder finder) {
  if (from.empty()) return 0;
  std::basic_string<Char> out;
  size_t count = 0;
  size_t start = 0;
  for (;;) {
    size_t hit = finder(std::basic_string_view<Char>(text), from, start);
    if (hit == std::basic_string_view<Char>::npos) break;
    out.append(text, start, hit - start);
    out.append(to);
    start = hit + from.size();
    ++count;
  }
  if (count == 0) return 0;
  out.append(text, start, std::basic_string<Char>::npos);
  text = std::move(out);
  return count;
}

template <typename Char>
bool IsAtoISpace(Char c) {
  // The C locale's isspace set.
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Reads like atoi/atoll but clamps to [min, max] instead of overflowing.
template <typename Int, typename Char>
Int ParseDecimal(std::basic_string_view<Char> text) {
  size_t i = 0;
  while (i < text.size() && IsAtoISpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number: its range holds the minimum exactly.
  constexpr Int kMin = std::numeric_limits<Int>::min();
  Int value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (saturated) continue;
    Int digit = static_cast<Int>(text[i] - '0');
    if (value < (kMin + digit) / 10) {
      saturated = true;
      continue;
    }
    value = static_cast<Int>(value * 10 - digit);
  }
  if (negative) return saturated ? kMin : value;
  if (saturated || value == kMin) return std::numeric_limits<Int>::max();
  return static_cast<Int>(-value);
}

template <typename Char>
bool IsTrimmed(Char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

size_t FindNoCase(std::u16string_view haystack, std::u16string_view needle,
                  size_t from) {
  return FindNoCaseImpl(haystack, needle, from);
}

std::u16string ToLowerAscii(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = LowerAscii(c);
  return out;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = LowerAscii(c);
  return out;
}

size_t ReplaceAll(std::u16string& text, std::u16string_view from,
                  std::u16string_view to) {
  return ReplaceAllImpl(text, from, to,
                        [](std::u16string_view t, std::u16string_view f,
                           size_t start) { return t.find(f, start); });
}

size_t ReplaceAll(std::string& text, std::string_view from,
                  std::string_view to) {
  return ReplaceAllImpl(text, from, to,
                        [](std::string_view t, std::string_view f,
                           size_t start) { return t.find(f, start); });
}

size_t ReplaceAllNoCase(std::u16string& text, std::u16string_view from,
                        std::u16string_view to) {
  return ReplaceAllImpl(text, from, to, &FindNoCaseImpl<char16_t>);
}

int32_t AtoI(std::string_view text) { return ParseDecimal<int32_t>(text); }
int32_t AtoI(std::u16string_view text) { return ParseDecimal<int32_t>(text); }
int64_t AtoI64(std::string_view text) { return ParseDecimal<int64_t>(text); }
int64_t AtoI64(std::u16string_view text) {
  return ParseDecimal<int64_t>(text);
}

std::u16string AsciiToU16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(static_cast<unsigned char>(c));
  return out;
}

std::u16string_view FieldOf(std::u16string_view text, char16_t separator, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    size_t found = text.find(separator, start);
    if (found == std::u16string_view::npos) return {};
    start = found + 1;
  }
  size_t end = text.find(separator, start);
  return text.substr(start, end == std::u16string_view::npos ? text.npos : end - start);
}

std::u16string TrimSpace(std::u16string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return std::u16string(text.substr(begin, end - begin));
}

}  // namespace vespar
