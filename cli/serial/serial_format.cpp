#include "cli/serial/serial_format.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace tarnlink {

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// The largest value a format holds, or the whole range.
uint64_t largestValue(const SerialFormat& format) {
    const uint64_t all = std::numeric_limits<uint64_t>::max();
    switch (format.kind) {
        case SerialFormat::LITTLE_ENDIAN_INT:
        case SerialFormat::BIG_ENDIAN_INT:
            return format.width >= 8 ? all : (uint64_t{1} << (8 * format.width)) - 1;
        case SerialFormat::HEX_TEXT:
            return format.width >= 16 ? all : (uint64_t{1} << (4 * format.width)) - 1;
        case SerialFormat::DECIMAL_TEXT: {
            uint64_t largest = 0;
            for (size_t i = 0; i < format.width && largest <= all / 10; ++i) {
                largest = largest * 10 + 9;
            }
            return format.width >= 20 ? all : largest;
        }
    }
    return all;
}

std::string digitsOf(uint64_t value, unsigned radix, size_t width) {
    std::string digits;
    do {
        digits.insert(digits.begin(), HEX_DIGITS[value % radix]);
        value /= radix;
    } while (value != 0);
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

std::optional<size_t> widthAfter(const std::string& name, const std::string& prefix) {
    if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size()) {
        return std::nullopt;
    }
    size_t width = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, problem] = std::from_chars(first, last, width);
    if (problem != std::errc() || end != last) {
        return std::nullopt;
    }
    return width;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::optional<SerialFormat> parseSerialFormat(const std::string& name, std::string* error) {
    struct Integer {
        const char* name;
        SerialFormat format;
    };
    static const Integer INTEGERS[] = {
        {"u16le", {SerialFormat::LITTLE_ENDIAN_INT, 2}}, {"u16be", {SerialFormat::BIG_ENDIAN_INT, 2}},
        {"u32le", {SerialFormat::LITTLE_ENDIAN_INT, 4}}, {"u32be", {SerialFormat::BIG_ENDIAN_INT, 4}},
        {"u64le", {SerialFormat::LITTLE_ENDIAN_INT, 8}}, {"u64be", {SerialFormat::BIG_ENDIAN_INT, 8}},
    };
    for (const Integer& integer : INTEGERS) {
        if (name == integer.name) {
            return integer.format;
        }
    }
    if (const std::optional<size_t> width = widthAfter(name, "ascii:")) {
        if (*width >= 1 && *width <= 20) {
            return SerialFormat{SerialFormat::DECIMAL_TEXT, *width};
        }
        *error = "ascii:N takes 1 to 20 digits, not " + std::to_string(*width);
        return std::nullopt;
    }
    if (const std::optional<size_t> width = widthAfter(name, "hex:")) {
        if (*width >= 1 && *width <= 16) {
            return SerialFormat{SerialFormat::HEX_TEXT, *width};
        }
        *error = "hex:N takes 1 to 16 digits, not " + std::to_string(*width);
        return std::nullopt;
    }
    *error = "unknown serial format \"" + name +
             "\" (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N)";
    return std::nullopt;
}

std::optional<SerialValue> encodeSerial(uint64_t value, const SerialFormat& format,
                                        std::string* error) {
    const uint64_t largest = largestValue(format);
    if (value > largest) {
        *error = std::to_string(value) + " does not fit " + formatName(format) + " (largest " +
                 std::to_string(largest) + ")";
        return std::nullopt;
    }
    SerialValue out;
    switch (format.kind) {
        case SerialFormat::LITTLE_ENDIAN_INT:
        case SerialFormat::BIG_ENDIAN_INT:
            for (size_t i = 0; i < format.width; ++i) {
                out.bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
            }
            if (format.kind == SerialFormat::BIG_ENDIAN_INT) {
                std::reverse(out.bytes.begin(), out.bytes.end());
            }
            out.text = std::to_string(value);
            return out;
        case SerialFormat::DECIMAL_TEXT:
        case SerialFormat::HEX_TEXT:
            out.text = digitsOf(value, format.kind == SerialFormat::HEX_TEXT ? 16 : 10, format.width);
            out.bytes.assign(out.text.begin(), out.text.end());
            return out;
    }
    return std::nullopt;
}

std::string formatName(const SerialFormat& format) {
    switch (format.kind) {
        case SerialFormat::LITTLE_ENDIAN_INT:
            return "u" + std::to_string(8 * format.width) + "le";
        case SerialFormat::BIG_ENDIAN_INT:
            return "u" + std::to_string(8 * format.width) + "be";
        case SerialFormat::DECIMAL_TEXT:
            return "ascii:" + std::to_string(format.width);
        case SerialFormat::HEX_TEXT:
            return "hex:" + std::to_string(format.width);
    }
    return "";
}

std::optional<SerialValue> parseSerialText(const std::string& text, const SerialFormat& format,
                                           std::string* error) {
    const bool hex = format.kind == SerialFormat::HEX_TEXT;
    const std::string digits = trimmed(text);
    uint64_t value = 0;
    const char* last = digits.data() + digits.size();
    const auto [end, problem] = std::from_chars(digits.data(), last, value, hex ? 16 : 10);
    if (digits.empty() || problem != std::errc() || end != last) {
        *error = "\"" + text + "\" is not " + (hex ? "hex digits" : "a decimal number") +
                 (problem == std::errc::result_out_of_range ? " that fits 64 bits" : "");
        return std::nullopt;
    }
    return encodeSerial(value, format, error);
}

std::optional<SerialValue> parseHexBytes(const std::string& line, std::string* error) {
    const std::string text = trimmed(line);
    const bool colons = text.find(':') != std::string::npos;
    SerialValue out;
    size_t i = 0;
    while (i < text.size()) {
        const int high = hexDigitValue(text[i]);
        const int low = i + 1 < text.size() ? hexDigitValue(text[i + 1]) : -1;
        if (high < 0 || low < 0) {
            *error = "\"" + text + "\" is not hex bytes (00:1B:63:84:45:E6 or 001B638445E6)";
            return std::nullopt;
        }
        out.bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        i += 2;
        if (colons && i < text.size()) {
            if (text[i] != ':' || i + 1 == text.size()) {
                *error = "\"" + text + "\" is not hex bytes (00:1B:63:84:45:E6 or 001B638445E6)";
                return std::nullopt;
            }
            ++i;
        }
    }
    if (out.bytes.empty()) {
        *error = "an empty value";
        return std::nullopt;
    }
    for (const uint8_t byte : out.bytes) {
        out.text += out.text.empty() ? "" : ":";
        out.text += HEX_DIGITS[byte >> 4];
        out.text += HEX_DIGITS[byte & 0xF];
    }
    return out;
}

}  // namespace tarnlink
