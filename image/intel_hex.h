#pragma once
// Intel HEX: records of data (type 00), the end (01), extended segment (02) and linear (04)
// addresses; the start addresses (03, 05) are read and left alone.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/flat_image.h"

namespace tarnlink {

/// Reads every record of `text` into `out`, checking every checksum; the file must end
/// with its end record. Returns why it is not Intel HEX, naming the line ("line 6:
/// checksum is 0x3F, the line's bytes need 0x41"), or empty.
std::string parseIntelHex(const uint8_t* text, size_t size, ImageSegments& out);

}  // namespace tarnlink
