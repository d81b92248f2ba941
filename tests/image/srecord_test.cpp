// S-record files, good and broken, through the whole conversion: every broken one is refused
// naming its line or address.
#include <gtest/gtest.h>

#include "tests/image/image_case.h"

namespace tarnlink::test {
namespace {

using ::testing::ValuesIn;

const std::string HEADER = srecRecord(0, 0, bytesOf("firmware"));
const std::string S9 = srecRecord(9, 0, {});
const std::string S8 = srecRecord(8, 0, {});
const std::string S7 = srecRecord(7, 0x08000000, {});

std::string s1(uint16_t address, const Bytes& data) {
    return srecRecord(1, address, data);
}

const ImageCase CASES[] = {
    {"S1WithHeader", bytesOf(HEADER + s1(0, {1, 2}) + s1(2, {3}) + S9), {}, {1, 2, 3}, 0, ""},
    {"HandWrittenRecord", bytesOf("S1040000AA51\nS9030000FC\n"), {}, {0xAA}, 0, ""},
    {"S2With24BitAddresses",
     bytesOf(srecRecord(2, 0x010000, {1}) + srecRecord(2, 0x010002, {3}) + S8),
     0x10000,
     {1, 0xFF, 3},
     0x10000,
     ""},
    {"S3With32BitAddresses",
     bytesOf(srecRecord(3, 0x08000000, {1, 2, 3, 4}) + S7),
     0x08000000,
     {1, 2, 3, 4},
     0x08000000,
     ""},
    {"WindowsLineEnds", bytesOf("S1040000AA51\r\nS9030000FC\r\n"), {}, {0xAA}, 0, ""},
    {"CountRecordMatches",
     bytesOf(s1(0, {1}) + s1(1, {2}) + srecRecord(5, 2, {}) + S9),
     {},
     {1, 2},
     0,
     ""},
    {"CountRecordOf24Bits", bytesOf(s1(0, {1}) + srecRecord(6, 1, {}) + S9), {}, {1}, 0, ""},
    {"GapFilledAsErasedFlash",
     bytesOf(s1(0, {1}) + s1(0x40, {2}) + S9),
     {},
     join({{1}, erased(0x3F), {2}}),
     0,
     ""},
    {"OverlapWithEqualData", bytesOf(s1(0, {1, 2}) + s1(1, {2, 3}) + S9), {}, {1, 2, 3}, 0, ""},

    {"BadChecksum",
     bytesOf("S1040000AA00\nS9030000FC\n"),
     {},
     {},
     0,
     "firmware.srec: line 1: checksum is 0x00, the line's bytes need 0x51"},
    {"MissingEndRecord",
     bytesOf(HEADER + s1(0, {1})),
     {},
     {},
     0,
     "firmware.srec: after line 2: no end record (S7, S8 or S9): the file may be cut short"},
    {"RecordAfterTheEnd",
     bytesOf(s1(0, {1}) + S9 + s1(1, {2})),
     {},
     {},
     0,
     "firmware.srec: line 3: a record after the end record of line 2"},
    {"CountRecordDisagrees",
     bytesOf(s1(0, {1}) + s1(1, {2}) + srecRecord(5, 3, {}) + S9),
     {},
     {},
     0,
     "firmware.srec: line 3: the count record says 3 data records, 2 came before it"},
    {"OverlapWithOtherData",
     bytesOf(s1(0x10, {1, 2, 3}) + s1(0x12, {4}) + S9),
     {},
     {},
     0,
     "firmware.srec: line 2: address 0x00000012 was given other data by line 1"},
    {"BelowTheBase",
     bytesOf(srecRecord(3, 0x07FFFFFF, {1}) + S7),
     0x08000000,
     {},
     0,
     "firmware.srec: line 1: address 0x07FFFFFF lies below the base 0x08000000"},
    {"PastTheLargestImage",
     bytesOf(srecRecord(3, 0x08000000, {1}) + srecRecord(3, 0x0803FFFC, {1}) + S7),
     0x08000000,
     {},
     0,
     "firmware.srec: line 2: address 0x0803FFFC lies past the largest image (262,140 bytes from "
     "the base 0x08000000)"},
    {"FarAbove0WithoutBase",
     bytesOf(srecRecord(3, 0x08000000, {1}) + S7),
     {},
     {},
     0,
     "firmware.srec: the data starts at 0x08000000, far above 0: give the flash's start with "
     "--base 0x08000000"},
    {"ReservedType",
     bytesOf("S4030000FC\n" + S9),
     {},
     {},
     0,
     "firmware.srec: line 1: '4' after 'S' is not a record type (S0 to S9, not S4)"},
    {"NotARecord",
     bytesOf(":0100000041BE\n"),
     {},
     {},
     0,
     "firmware.srec: line 1: a record starts with 'S', this line with ':'"},
    {"CountDisagreesWithLine",
     bytesOf("S1050000AA51\n" + S9),
     {},
     {},
     0,
     "firmware.srec: line 1: the record gives a count of 5 bytes, the line holds 4"},
    {"CountTooSmallForTheAddress",
     bytesOf("S3030000FC\n" + S9),
     {},
     {},
     0,
     "firmware.srec: line 1: a count of 3 leaves no room for S3's 4 address bytes and the "
     "checksum"},
    {"NotHex",
     bytesOf("S1040000AZ51\n" + S9),
     {},
     {},
     0,
     "firmware.srec: line 1: 'Z' is not a hex digit"},
    {"OnlyAHeader", bytesOf(HEADER + S9), {}, {}, 0, "firmware.srec: holds no data"},
};

class SRecordTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(SRecordTest, GivesTheFlatImageOrNamesWhatIsWrong) {
    checkImageCase(GetParam(), "firmware.srec", ImageFormat::SREC);
}

INSTANTIATE_TEST_SUITE_P(Files, SRecordTest, ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnlink::test
