#pragma once

// Data compiled into every binary: the skin layout table and the string table.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vespar {

// The 368-byte layout table: a 32-byte header and 21 records of 16 bytes.
std::span<const unsigned char> FrameConfigBytes();

// Header byte 3 (parts of one file started at once) and byte 4 (extra parts
// of a large file); 0 means "keep the manager's default".
uint8_t FrameConfigPartsAtOnce();
uint8_t FrameConfigExtraParts();

// Text of string `id` (10001 to 10401); empty for an id the table lacks.
const std::u16string& ResourceString(int id);

}  // namespace vespar
