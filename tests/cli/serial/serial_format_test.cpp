#include "cli/serial/serial_format.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace tarnlink {
namespace {

struct EncodeCase {
    uint64_t value;
    const char* format;
    std::vector<uint8_t> bytes;
    const char* text;
};

class SerialEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(SerialEncodeTest, ValueBecomesBytesAndText) {
    const EncodeCase& c = GetParam();
    std::string error;
    const std::optional<SerialFormat> format = parseSerialFormat(c.format, &error);
    ASSERT_TRUE(format) << error;
    EXPECT_EQ(formatName(*format), c.format);
    const std::optional<SerialValue> value = encodeSerial(c.value, *format, &error);
    ASSERT_TRUE(value) << error;
    EXPECT_EQ(value->bytes, c.bytes);
    EXPECT_EQ(value->text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SerialEncodeTest,
    ::testing::Values(
        EncodeCase{0x1234, "u16le", {0x34, 0x12}, "4660"},
        EncodeCase{0x1234, "u16be", {0x12, 0x34}, "4660"},
        EncodeCase{65535, "u16le", {0xFF, 0xFF}, "65535"},
        EncodeCase{0x01020304, "u32le", {4, 3, 2, 1}, "16909060"},
        EncodeCase{0x01020304, "u32be", {1, 2, 3, 4}, "16909060"},
        EncodeCase{0x0102030405060708, "u64le", {8, 7, 6, 5, 4, 3, 2, 1}, "72623859790382856"},
        EncodeCase{0x0102030405060708, "u64be", {1, 2, 3, 4, 5, 6, 7, 8}, "72623859790382856"},
        EncodeCase{UINT64_MAX, "u64be", std::vector<uint8_t>(8, 0xFF), "18446744073709551615"},
        EncodeCase{42, "ascii:6", {'0', '0', '0', '0', '4', '2'}, "000042"},
        EncodeCase{999, "ascii:3", {'9', '9', '9'}, "999"},
        EncodeCase{0, "ascii:1", {'0'}, "0"},
        EncodeCase{UINT64_MAX, "ascii:20", {'1', '8', '4', '4', '6', '7', '4', '4', '0', '7',
                                            '3', '7', '0', '9', '5', '5', '1', '6', '1', '5'},
                   "18446744073709551615"},
        EncodeCase{0xBEEF, "hex:6", {'0', '0', 'B', 'E', 'E', 'F'}, "00BEEF"},
        EncodeCase{0xF, "hex:1", {'F'}, "F"},
        EncodeCase{UINT64_MAX, "hex:16", std::vector<uint8_t>(16, 'F'), "FFFFFFFFFFFFFFFF"}));

struct RefusalCase {
    uint64_t value;
    const char* format;
    const char* error;
};

class SerialDoesNotFitTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SerialDoesNotFitTest, IsRefusedWithTheLargestValue) {
    const RefusalCase& c = GetParam();
    std::string error;
    const std::optional<SerialFormat> format = parseSerialFormat(c.format, &error);
    ASSERT_TRUE(format) << error;
    EXPECT_FALSE(encodeSerial(c.value, *format, &error));
    EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SerialDoesNotFitTest,
    ::testing::Values(RefusalCase{65536, "u16le", "65536 does not fit u16le (largest 65535)"},
                      RefusalCase{65536, "u16be", "65536 does not fit u16be (largest 65535)"},
                      RefusalCase{4294967296, "u32be", "4294967296 does not fit u32be (largest 4294967295)"},
                      RefusalCase{1000, "ascii:3", "1000 does not fit ascii:3 (largest 999)"},
                      RefusalCase{10, "ascii:1", "10 does not fit ascii:1 (largest 9)"},
                      RefusalCase{0x10000, "hex:4", "65536 does not fit hex:4 (largest 65535)"},
                      RefusalCase{16, "hex:1", "16 does not fit hex:1 (largest 15)"}));

TEST(SerialFormatTest, UnknownNamesAndWidthsAreRefused) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"u24le", "unknown serial format \"u24le\" (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N)"},
        {"ascii:", "unknown serial format \"ascii:\" (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N)"},
        {"ascii:x", "unknown serial format \"ascii:x\" (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N)"},
        {"ascii:0", "ascii:N takes 1 to 20 digits, not 0"},
        {"ascii:21", "ascii:N takes 1 to 20 digits, not 21"},
        {"hex:17", "hex:N takes 1 to 16 digits, not 17"},
        {"hex:0", "hex:N takes 1 to 16 digits, not 0"},
        {"U16LE", "unknown serial format \"U16LE\" (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N)"},
    };
    for (const auto& [name, expected] : cases) {
        std::string error;
        EXPECT_FALSE(parseSerialFormat(name, &error)) << name;
        EXPECT_EQ(error, expected) << name;
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
        {"18446744073709551616", "u64le", "\"18446744073709551616\" is not a decimal number that fits 64 bits"},
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

TEST(SerialHexBytesTest, ListLinesAsBytes) {
    struct Case {
        const char* line;
        std::vector<uint8_t> bytes;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"00:1B:63:84:45:E6", {0x00, 0x1B, 0x63, 0x84, 0x45, 0xE6}, "00:1B:63:84:45:E6"},
        {"001b638445e6", {0x00, 0x1B, 0x63, 0x84, 0x45, 0xE6}, "00:1B:63:84:45:E6"},
        {"  ab\r", {0xAB}, "AB"},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::optional<SerialValue> value = parseHexBytes(c.line, &error);
        ASSERT_TRUE(value) << c.line << ": " << error;
        EXPECT_EQ(value->bytes, c.bytes) << c.line;
        EXPECT_EQ(value->text, c.text) << c.line;
    }
    for (const char* bad : {"001B6", "00:1B:", "0:1B", "00-1B", "00:1B63", "zz", ":00", ""}) {
        std::string error;
        EXPECT_FALSE(parseHexBytes(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace tarnlink
