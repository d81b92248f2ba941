#include "cli/serial/serial_format.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace tarnlink {
namespace {

// The bytes that go into the image, as text so that the table reads ('\x12\x34'), or the
// reason the value is refused.
std::string encoded(uint64_t value, const char* name, std::string* text = nullptr) {
    std::string error;
    const std::optional<SerialFormat> format = parseSerialFormat(name, &error);
    if (!format) {
        return error;
    }
    EXPECT_EQ(formatName(*format), name);
    const std::optional<SerialValue> serial = encodeSerial(value, *format, &error);
    if (text != nullptr && serial) {
        *text = serial->text;
    }
    return serial ? std::string(serial->bytes.begin(), serial->bytes.end()) : error;
}

TEST(SerialFormatTest, EachFormatWritesItsBytesUpToItsLargestValue) {
    struct Case {
        uint64_t value;
        const char* format;
        std::string bytes;  // or the refusal
        const char* text;   // the reports' form; empty for a refusal
    };
    const std::vector<Case> cases = {
        {0x1234, "u16le", "\x34\x12", "4660"},
        {0x1234, "u16be", "\x12\x34", "4660"},
        {65536, "u16le", "65536 does not fit u16le (largest 65535)", ""},
        {0x01020304, "u32le", "\x04\x03\x02\x01", "16909060"},
        {4294967296, "u32be", "4294967296 does not fit u32be (largest 4294967295)", ""},
        {0x0102030405060708, "u64be", "\x01\x02\x03\x04\x05\x06\x07\x08", "72623859790382856"},
        {UINT64_MAX, "u64le", std::string(8, '\xFF'), "18446744073709551615"},
        {42, "ascii:6", "000042", "000042"},
        {1000, "ascii:3", "1000 does not fit ascii:3 (largest 999)", ""},
        {UINT64_MAX, "ascii:20", "18446744073709551615", "18446744073709551615"},
        {0xBEEF, "hex:6", "00BEEF", "00BEEF"},
        {16, "hex:1", "16 does not fit hex:1 (largest 15)", ""},
        {UINT64_MAX, "hex:16", std::string(16, 'F'), "FFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_EQ(encoded(c.value, c.format, &text), c.bytes) << c.value << " " << c.format;
        EXPECT_EQ(text, c.text) << c.value << " " << c.format;
    }
}

TEST(SerialFormatTest, UnknownNamesAndWidthsAreRefused) {
    const std::string known = " (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N)";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"u24le", "unknown serial format \"u24le\"" + known},
        {"U16LE", "unknown serial format \"U16LE\"" + known},
        {"ascii:", "unknown serial format \"ascii:\"" + known},
        {"ascii:0", "ascii:N takes 1 to 20 digits, not 0"},
        {"ascii:21", "ascii:N takes 1 to 20 digits, not 21"},
        {"hex:17", "hex:N takes 1 to 16 digits, not 17"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(encoded(0, name), expected) << name;
    }
}

// --serial-value: the text the reports show, read back in its format.
TEST(SerialFormatTest, AGivenValueIsReadAsTheReportsShowIt) {
    const std::vector<std::tuple<const char*, const char*, std::string>> cases = {
        {"4660", "u16be", "\x12\x34"},
        {"42", "ascii:6", "000042"},
        {"00beef", "hex:6", "00BEEF"},
        {"65536", "u16le", "65536 does not fit u16le (largest 65535)"},
        {"0x10", "u32le", "\"0x10\" is not a decimal number"},
        {"-1", "u64le", "\"-1\" is not a decimal number"},
        {"18446744073709551616", "u64le",
         "\"18446744073709551616\" is not a decimal number that fits 64 bits"},
        {"BEEFG", "hex:6", "\"BEEFG\" is not hex digits"},
    };
    for (const auto& [text, name, expected] : cases) {
        std::string error;
        const std::optional<SerialValue> value =
            parseSerialText(text, *parseSerialFormat(name, &error), &error);
        EXPECT_EQ(value ? std::string(value->bytes.begin(), value->bytes.end()) : error, expected)
            << text << " " << name;
    }
}

TEST(SerialFormatTest, ListLinesAreHexBytesWithOrWithoutColons) {
    for (const char* line : {"00:1B:63:84:45:E6", "001b638445e6", "  00:1b:63:84:45:E6\r"}) {
        std::string error;
        const std::optional<SerialValue> value = parseHexBytes(line, &error);
        ASSERT_TRUE(value) << line << ": " << error;
        EXPECT_EQ(value->bytes, (std::vector<uint8_t>{0x00, 0x1B, 0x63, 0x84, 0x45, 0xE6}));
        EXPECT_EQ(value->text, "00:1B:63:84:45:E6");
    }
    for (const char* bad : {"001B6", "00:1B:", "0:1B", "00-1B", "00:1B63", "zz", ":00", ""}) {
        std::string error;
        EXPECT_FALSE(parseHexBytes(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace tarnlink
