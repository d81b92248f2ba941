#pragma once
// How a board's serial number is written into its image: a binary integer of 2, 4 or 8
// bytes in either byte order, or text of a fixed width (decimal or hex digits), and the
// hex bytes of a list line (a MAC address, a key).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnlink {

struct SerialFormat {
    enum Kind : uint8_t { LITTLE_ENDIAN_INT, BIG_ENDIAN_INT, DECIMAL_TEXT, HEX_TEXT };
    Kind kind = LITTLE_ENDIAN_INT;
    /// Bytes of an integer (2, 4, 8) or characters of a text (1 to 20 digits, 16 for hex).
    size_t width = 4;
};

/// One board's value as it goes into the image, and as the reports show it.
struct SerialValue {
    std::vector<uint8_t> bytes;
    std::string text;
};

/// "u16le u16be u32le u32be u64le u64be", "ascii:N" (N decimal digits, zero-padded) or
/// "hex:N" (N upper-case hex digits). Empty with `*error` set for anything else.
std::optional<SerialFormat> parseSerialFormat(const std::string& name, std::string* error);

/// The name a format is given by: "u32le", "ascii:8".
std::string formatName(const SerialFormat& format);

/// `value` in `format`; the text form is the decimal number for integers and the digits
/// for text. Empty with `*error` set when the value does not fit ("65536 does not fit
/// u16le (largest 65535)").
std::optional<SerialValue> encodeSerial(uint64_t value, const SerialFormat& format,
                                        std::string* error);

/// A value given as the reports show it in `format` (--serial-value): a decimal number for
/// the integer formats and ascii:N, hex digits for hex:N. Empty with `*error` set when it is
/// not one or does not fit.
std::optional<SerialValue> parseSerialText(const std::string& text, const SerialFormat& format,
                                           std::string* error);

/// A list line's hex bytes, "00:1B:63:84:45:E6" or "001B638445E6" (either case, spaces
/// around ignored). Its text form is the colon-separated upper-case pairs. Empty with
/// `*error` set when the line is not hex bytes.
std::optional<SerialValue> parseHexBytes(const std::string& line, std::string* error);

}  // namespace tarnlink
