#include "cli/ports/port_name.h"

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

// The command line takes names by the link's rule: on Linux COM port n is /dev/ttyS(n-1).
INSTANTIATE_TEST_SUITE_P(
    Names, PortNameTest,
    ::testing::Values(PortNameCase{"3", "/dev/ttyS2"}, PortNameCase{"COM3", "/dev/ttyS2"},
                      PortNameCase{"com12", "/dev/ttyS11"}, PortNameCase{"Com007", "/dev/ttyS6"},
                      PortNameCase{"\\\\.\\COM12", "/dev/ttyS11"},
                      PortNameCase{"10000", "/dev/ttyS9999"}, PortNameCase{"0", ""},
                      PortNameCase{"COM0", ""}, PortNameCase{"", ""},
                      PortNameCase{"/dev/ttyUSB0", "/dev/ttyUSB0"},
                      PortNameCase{"/dev/pts/7", "/dev/pts/7"},
                      PortNameCase{"COM", ""},    // a COM name without its number
                      PortNameCase{"COM3x", ""},  // likewise, not a file of that name
                      PortNameCase{"-3", ""},     // not COM-3, and not a file either
                      PortNameCase{"ttyUSB0", ""}));

}  // namespace
}  // namespace tarnlink
