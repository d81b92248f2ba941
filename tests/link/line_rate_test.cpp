// The rate a port reports back after it was set to 115200: what Windows drivers of virtual,
// Bluetooth and network ports say, and what the link must refuse.
#include "link/line_rate.h"

#include <gtest/gtest.h>

namespace tarnlink {
namespace {

struct RateCase {
    uint32_t reported;
    bool accepted;
};

class ReportedRate : public testing::TestWithParam<RateCase> {};

TEST_P(ReportedRate, IsAcceptedWithinTwoPercentOf115200) {
    EXPECT_EQ(reportedRateAccepted(GetParam().reported, 115200), GetParam().accepted)
        << GetParam().reported;
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ReportedRate,
    testing::Values(RateCase{115200, true},
                    RateCase{115384, true},   // 3 MHz / 26: an FTDI chip's nearest
                    RateCase{114285, true},   // 4 MHz / 35
                    RateCase{117647, false},  // 2 MHz / 17: 2.1 % off
                    RateCase{112896, true},   // exactly 2 % below
                    RateCase{112895, false}, RateCase{117504, true},  // exactly 2 % above
                    RateCase{117505, false}, RateCase{9600, false}, RateCase{230400, false},
                    RateCase{0, false}, RateCase{0xFFFFFFFFu, false}),
    [](const testing::TestParamInfo<RateCase>& info) {
        return std::to_string(info.param.reported);
    });

}  // namespace
}  // namespace tarnlink
