#pragma once
// Motorola S-record: S0 header (read and left alone), S1/S2/S3 data with 16-, 24- and
// 32-bit addresses, S5/S6 record counts, S7/S8/S9 end records.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/flat_image.h"

namespace tarnlink {

/// Reads every record of `text` into `out`, checking every checksum and every count record;
/// the file must end with an end record. Returns why it is not an S-record file, naming
/// the line, or empty.
std::string parseSRecord(const uint8_t* text, size_t size, ImageSegments& out);

}  // namespace tarnlink
