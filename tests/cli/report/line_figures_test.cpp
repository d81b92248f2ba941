#include "cli/report/line_figures.h"

#include <gtest/gtest.h>

namespace tarnlink {
namespace {

TEST(LineFiguresTest, MedianOfOddEvenAndEmptySamples) {
    EXPECT_EQ(medianUs({}), 0.0);
    EXPECT_EQ(medianUs({7}), 7.0);
    EXPECT_EQ(medianUs({16000, 300, 16100}), 16000.0);
    EXPECT_EQ(medianUs({400, 100, 300, 200}), 250.0);
    // One stalled exchange does not make a fast line slow.
    EXPECT_EQ(medianUs({200, 250, 180, 900000, 210}), 210.0);
}

TEST(LineFiguresTest, EfficiencyIsTheLineTimeOfTheBytesOverTheElapsedTime) {
    ExchangeFigures exchange;
    exchange.turnaroundUs = {1000, 3000};
    exchange.bytesSent = 7200;
    exchange.bytesReceived = 4320;
    // 11520 bytes at 10 bits take exactly 1 s at 115200 baud.
    LineFigures figures = lineFigures(exchange, 4.0);
    EXPECT_EQ(figures.exchanges, 2u);
    EXPECT_DOUBLE_EQ(figures.turnaroundMs, 2.0);
    EXPECT_DOUBLE_EQ(figures.efficiency, 0.25);

    figures = lineFigures(ExchangeFigures{}, 0);
    EXPECT_EQ(figures.exchanges, 0u);
    EXPECT_LT(figures.turnaroundMs, 0) << "nothing measured";
    EXPECT_LT(figures.efficiency, 0) << "no elapsed time";
}

struct WarningCase {
    const char* name;
    uint32_t exchanges;
    double turnaroundMs;
    bool warns;
};

class SlowLineWarningTest : public ::testing::TestWithParam<WarningCase> {};

TEST_P(SlowLineWarningTest, WarnsOnlyAboveTheLimitWithEnoughExchanges) {
    const WarningCase& c = GetParam();
    LineFigures figures;
    figures.exchanges = c.exchanges;
    figures.turnaroundMs = c.turnaroundMs;
    const std::string warning = slowLineWarning(figures, "THE ADVICE");
    if (!c.warns) {
        EXPECT_EQ(warning, "");
        return;
    }
    EXPECT_EQ(warning.rfind("Warning: slow line: ", 0), 0u) << warning;
    EXPECT_NE(warning.find(" start 16.2 ms after each request (median of " +
                           std::to_string(c.exchanges) + " exchanges"),
              std::string::npos)
        << warning;
    EXPECT_NE(warning.find("Probable cause: THE ADVICE"), std::string::npos) << warning;
    EXPECT_EQ(warning.find('\n'), std::string::npos) << "one line";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SlowLineWarningTest,
    ::testing::Values(WarningCase{"adapter_at_16_ms", 32, 16.2, true},
                      WarningCase{"short_transfer", SLOW_LINE_MIN_SAMPLES, 16.2, true},
                      WarningCase{"too_few_exchanges", SLOW_LINE_MIN_SAMPLES - 1, 16.2, false},
                      WarningCase{"exactly_the_limit", 32, SLOW_TURNAROUND_MS, false},
                      WarningCase{"direct_line", 32, 0.3, false},
                      WarningCase{"nothing_measured", 0, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnlink
