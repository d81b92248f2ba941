#include "cli/ports/port_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tarnlink {
namespace {

using Names = std::vector<std::string>;

struct OrderCase {
    const char* name;
    Names given;
    Names sorted;
};

class PortOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(PortOrderTest, NumbersCountAsNumbers) {
    Names names = GetParam().given;
    std::sort(names.begin(), names.end(), naturalPortLess);
    EXPECT_EQ(names, GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, PortOrderTest,
    ::testing::Values(OrderCase{"ComPorts",
                                {"COM10", "COM2", "COM1", "COM21", "COM3"},
                                {"COM1", "COM2", "COM3", "COM10", "COM21"}},
                      OrderCase{"LinuxTtys",
                                {"ttyUSB10", "ttyACM0", "ttyUSB2", "ttyS0", "ttyUSB0"},
                                {"ttyACM0", "ttyS0", "ttyUSB0", "ttyUSB2", "ttyUSB10"}},
                      OrderCase{"LeadingZerosAndNoNumber",
                                {"COM010", "COM9", "COM", "COM0"},
                                {"COM", "COM0", "COM9", "COM010"}},
                      OrderCase{"LongNumbersDoNotOverflow",
                                {"x99999999999999", "x2"},
                                {"x2", "x99999999999999"}}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tarnlink
