#include "cli/port_name.h"

#include <gtest/gtest.h>

namespace tarnlink {
namespace {

struct PortNameCase {
    const char* typed;
    const char* expected;
};

class PortNameTest : public ::testing::TestWithParam<PortNameCase> {};

TEST_P(PortNameTest, MapsToEnginePath) {
    EXPECT_EQ(portPathFromArgument(GetParam().typed), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameTest,
    ::testing::Values(PortNameCase{"3", "\\\\.\\COM3"}, PortNameCase{"COM3", "\\\\.\\COM3"},
                      PortNameCase{"com12", "\\\\.\\COM12"}, PortNameCase{"Com007", "\\\\.\\COM7"},
                      PortNameCase{"9999", "\\\\.\\COM9999"}, PortNameCase{"10000", ""},
                      PortNameCase{"0", ""}, PortNameCase{"COM0", ""}, PortNameCase{"", ""},
                      PortNameCase{"/dev/ttyUSB0", "/dev/ttyUSB0"},
                      PortNameCase{"/dev/pts/7", "/dev/pts/7"},
                      PortNameCase{"COM", "COM"},      // not a number: a file name
                      PortNameCase{"COM3x", "COM3x"},  // likewise
                      PortNameCase{"-3", "-3"}));

}  // namespace
}  // namespace tarnlink
