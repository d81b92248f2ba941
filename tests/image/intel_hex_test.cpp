// Intel HEX files, good and broken, through the whole conversion (parse, then place from
// the base): every broken one is refused naming its line or address.
#include <gtest/gtest.h>

#include "tests/image/image_case.h"

namespace tarnlink::test {
namespace {

using ::testing::ValuesIn;

constexpr uint8_t EXT_SEGMENT = 0x02;
constexpr uint8_t EXT_LINEAR = 0x04;

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return out;
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

const std::string TWO_RECORDS =
    ihexData(0x0000, {1, 2, 3, 4}) + ihexData(0x0004, {5, 6}) + IHEX_END;

const ImageCase CASES[] = {
    {"OneRecord", bytesOf(ihexData(0, {0xAA, 0xBB}) + IHEX_END), {}, {0xAA, 0xBB}, 0, ""},
    {"RecordsBackToBack", bytesOf(TWO_RECORDS), {}, {1, 2, 3, 4, 5, 6}, 0, ""},
    {"WindowsLineEnds", bytesOf(crlf(TWO_RECORDS)), {}, {1, 2, 3, 4, 5, 6}, 0, ""},
    {"LowerCaseDigits", bytesOf(lower(TWO_RECORDS)), {}, {1, 2, 3, 4, 5, 6}, 0, ""},
    {"BlankLinesAndTrailingSpaces",
     bytesOf("\n" + ihexData(0, {7}) + "  \t\n\n" + IHEX_END + "\n\n"),
     {},
     {7},
     0,
     ""},
    {"NoLineEndAfterTheEndRecord", bytesOf(ihexData(0, {7}) + ":00000001FF"), {}, {7}, 0, ""},
    {"GapFilledAsErasedFlash",
     bytesOf(ihexData(0x0000, {1}) + ihexData(0x0010, {2, 3}) + IHEX_END),
     {},
     join({{1}, erased(15), {2, 3}}),
     0,
     ""},
    {"DataStartsAbove0",
     bytesOf(ihexData(0x0100, {9}) + IHEX_END),
     {},
     join({erased(0x100), {9}}),
     0,
     ""},
    {"OutOfOrderRecords",
     bytesOf(ihexData(0x0004, {5, 6}) + ihexData(0x0000, {1, 2, 3, 4}) + IHEX_END),
     {},
     {1, 2, 3, 4, 5, 6},
     0,
     ""},
    {"OverlapWithEqualData",
     bytesOf(ihexData(0, {1, 2, 3}) + ihexData(1, {2, 3, 4}) + IHEX_END),
     {},
     {1, 2, 3, 4},
     0,
     ""},
    {"ExtendedLinearAddressWithBase",
     bytesOf(ihexUpper(EXT_LINEAR, 0x0800) + ihexData(0x0002, {1, 2}) + IHEX_END),
     0x08000000,
     {0xFF, 0xFF, 1, 2},
     0x08000000,
     ""},
    {"LinearAddressRunsOnPast64K",
     bytesOf(ihexUpper(EXT_LINEAR, 0x0000) + ihexData(0xFFFE, {1, 2, 3, 4}) + IHEX_END),
     0xFFFE,
     {1, 2, 3, 4},
     0xFFFE,
     ""},
    {"ExtendedSegmentAddress",
     bytesOf(ihexUpper(EXT_SEGMENT, 0x1000) + ihexData(0x0001, {1}) + IHEX_END),
     0x10000,
     {0xFF, 1},
     0x10000,
     ""},
    {"SegmentOffsetWrapsWithinItsSegment",
     bytesOf(ihexUpper(EXT_SEGMENT, 0x0001) + ihexData(0xFFFF, {1, 2}) + IHEX_END), 0x10,
     join({{2}, erased(0xFFFE), {1}}), 0x10, ""},
    {"StartAddressRecordsIgnored",
     bytesOf(ihexRecord(0x03, 0, {0, 0, 1, 2}) + ihexRecord(0x05, 0, {8, 0, 0, 0}) +
             ihexData(0, {5}) + IHEX_END),
     {},
     {5},
     0,
     ""},
    {"LargestImage",
     bytesOf(ihexUpper(EXT_LINEAR, 0x0003) + ihexData(0xFFF8, {1, 2, 3, 4}) + IHEX_END),
     {},
     join({erased(0x3FFF8), {1, 2, 3, 4}}),
     0,
     ""},

    {"BadChecksum",
     bytesOf(ihexData(0, {1}) + ":010000004100\n" + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 2: checksum is 0x00, the line's bytes need 0xBE"},
    {"MissingEndRecord",
     bytesOf(TWO_RECORDS.substr(0, TWO_RECORDS.size() - IHEX_END.size())),
     {},
     {},
     0,
     "firmware.hex: after line 2: no end record (:00000001FF): the file may be cut short"},
    {"RecordAfterTheEnd",
     bytesOf(IHEX_END + ihexData(0, {1})),
     {},
     {},
     0,
     "firmware.hex: line 2: a record after the end record of line 1"},
    {"OverlapWithOtherData",
     bytesOf(ihexData(0x10, {1, 2, 3}) + ihexData(0x20, {9}) + ihexData(0x11, {2, 4}) + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 3: address 0x00000012 was given other data by line 1"},
    {"BelowTheBase",
     bytesOf(ihexData(0x0200, {1}) + ihexData(0x00FF, {2}) + IHEX_END),
     0x100,
     {},
     0,
     "firmware.hex: line 2: address 0x000000FF lies below the base 0x00000100"},
    {"PastTheLargestImage",
     bytesOf(ihexData(0, {1}) + ihexUpper(EXT_LINEAR, 0x0003) + ihexData(0xFFF8, {1, 2, 3, 4, 5}) +
             IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 3: address 0x0003FFFC lies past the largest image (262,140 bytes from "
     "the base 0x00000000)"},
    {"PastTheLargestImageFromTheBase",
     bytesOf(ihexUpper(EXT_LINEAR, 0x0804) + ihexData(0x0000, {1}) + IHEX_END),
     0x08000004,
     {},
     0,
     "firmware.hex: line 2: address 0x08040000 lies past the largest image (262,140 bytes from "
     "the base 0x08000004)"},
    {"FarAbove0WithoutBase",
     bytesOf(ihexUpper(EXT_LINEAR, 0x0800) + ihexData(0x0000, {1}) + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: the data starts at 0x08000000, far above 0: give the flash's start with "
     "--base 0x08000000"},
    {"NoData", bytesOf(IHEX_END), {}, {}, 0, "firmware.hex: holds no data"},
    {"NotARecord",
     bytesOf("hello\n"),
     {},
     {},
     0,
     "firmware.hex: line 1: a record starts with ':', this line with 'h'"},
    {"NotHex",
     bytesOf(":01000000G1BE\n" + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 1: 'G' is not a hex digit"},
    {"ControlCharacter",
     bytesOf(std::string(":0100000041\x01"
                         "E\n") +
             IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 1: the byte 0x01 is not a hex digit"},
    {"OddDigits",
     bytesOf(":0100000041B\n" + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 1: an odd number of hex digits"},
    {"TooShort",
     bytesOf(":00000001\n"),
     {},
     {},
     0,
     "firmware.hex: line 1: too short for a record (5 bytes at least)"},
    {"CountDisagreesWithLine",
     bytesOf(":0200000041BD\n" + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 1: the record gives 2 data bytes, the line holds 1"},
    {"UnknownRecordType",
     bytesOf(ihexRecord(0x06, 0, {1}) + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 1: record type 0x06 is not one of Intel HEX's (00 to 05)"},
    {"AddressRecordOfWrongLength",
     bytesOf(ihexRecord(EXT_LINEAR, 0, {1, 2, 3}) + IHEX_END),
     {},
     {},
     0,
     "firmware.hex: line 1: a record of type 0x04 holds 2 data bytes, this one 3"},
    {"EndRecordWithData",
     bytesOf(ihexData(0, {1}) + ihexRecord(0x01, 0, {1})),
     {},
     {},
     0,
     "firmware.hex: line 2: a record of type 0x01 holds 0 data bytes, this one 1"},
};

class IntelHexTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(IntelHexTest, GivesTheFlatImageOrNamesWhatIsWrong) {
    checkImageCase(GetParam(), "firmware.hex", ImageFormat::IHEX);
}

INSTANTIATE_TEST_SUITE_P(Files, IntelHexTest, ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnlink::test
