#pragma once

// UTF-16 text helpers. Matching "without regard to case" is ASCII-only, as the
// program's protocols need it (header names, URL prefixes).

#include <cstdint>
#include <string>
#include <string_view>

namespace vespar {

// Position of the first occurrence of `needle` at or after `from`, comparing
// ASCII letters without regard to case; npos when absent.
size_t FindNoCase(std::u16string_view haystack, std::u16string_view needle,
                  size_t from = 0);

// ASCII letters to lower case; everything else unchanged.
std::u16string ToLowerAscii(std::u16string_view text);
std::string ToLowerAscii(std::string_view text);

// Replaces every occurrence of `from` (non-empty) in `text` by `to`, scanning
// left to right without re-reading replaced text. Returns the count.
size_t ReplaceAll(std::u16string& text, std::u16string_view from,
                  std::u16string_view to);
size_t ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// Case-insensitive (ASCII) variant, used where a prefix is removed whatever
// its case.
size_t ReplaceAllNoCase(std::u16string& text, std::u16string_view from,
                        std::u16string_view to);

// Decimal parsing the way the C library's atoi reads: leading blanks, optional
// sign, digits, stop at the first other character; 0 when there is no digit.
// Values out of range saturate instead of overflowing.
int32_t AtoI(std::string_view text);
int32_t AtoI(std::u16string_view text);
int64_t AtoI64(std::string_view text);
int64_t AtoI64(std::u16string_view text);

// ASCII-only conversions for literals and numbers (bytes above 0x7F map to
// themselves as code units; use the code-page helpers for real text).
std::u16string AsciiToU16(std::string_view text);

// Field `index` (from 0) of `text` split at `separator`; empty when there
// are fewer fields.
std::u16string_view FieldOf(std::u16string_view text, char16_t separator, size_t index);

// Trims blanks, tabs, CR and LF at both ends.
std::u16string TrimSpace(std::u16string_view text);

}  // namespace vespar
