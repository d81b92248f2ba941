#include "cli/report/result_report.h"

#include <gtest/gtest.h>

#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

TEST(ResultReportTest, ExitStatusIsZeroOnlyForEachCommandsOwnSuccess) {
    EXPECT_EQ(exitStatusFor(TransferKind::LOAD, SUCCESS), 0);
    EXPECT_EQ(exitStatusFor(TransferKind::CRYPT, CRYPT_UPLOADED), 0);
    EXPECT_EQ(exitStatusFor(TransferKind::LOAD, CRYPT_UPLOADED), 11);
    EXPECT_EQ(exitStatusFor(TransferKind::VERIFY, SUCCESS), 0);
    EXPECT_EQ(exitStatusFor(TransferKind::VERIFY, VERIFY_FAILED), 7);
    EXPECT_EQ(exitStatusFor(TransferKind::CRYPT, SUCCESS), 1);  // never 0 for a crypt
    for (uint8_t r = GENERAL_FAILURE; r <= SERIALPORT_ERROR; ++r) {
        EXPECT_EQ(exitStatusFor(TransferKind::LOAD, r), r);
        EXPECT_EQ(exitStatusFor(TransferKind::CRYPT, r), r);
    }
}

// The kinds of failure the link tells apart read the same on every platform, whatever
// the system's number behind them; only the rest takes the system's own words.
struct PortFailureCase {
    PortOpenFailure failure;
    int error;
    const char* expected;
};

class PortFailureTest : public ::testing::TestWithParam<PortFailureCase> {};

TEST_P(PortFailureTest, ExplainsTheKindOfFailure) {
    const PortFailureCase& c = GetParam();
    EXPECT_EQ(portOpenFailureText("COM7", c.failure, c.error), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PortFailureTest,
    ::testing::Values(
        PortFailureCase{PortOpenFailure::NO_SUCH_PORT, 2, "COM7: no such device"},
        PortFailureCase{PortOpenFailure::NO_SUCH_PORT, 0, "COM7: no such device"},
        PortFailureCase{PortOpenFailure::ACCESS_DENIED, 13,
                        "COM7: permission denied (join the dialout group: sudo usermod "
                        "-aG dialout $USER, then log in again)"},
        PortFailureCase{PortOpenFailure::IN_USE, 5, "COM7: in use by another program"},
        PortFailureCase{PortOpenFailure::IN_USE, 16, "COM7: in use by another program"},
        PortFailureCase{PortOpenFailure::NOT_A_SERIAL_DEVICE, 25, "COM7: not a serial device"},
        PortFailureCase{PortOpenFailure::SETTINGS_REFUSED, 0,
                        "COM7: does not take the line settings (115200 baud, 8N1)"},
        PortFailureCase{PortOpenFailure::SYSTEM_ERROR, 0, "COM7: could not be opened or set up"},
        PortFailureCase{PortOpenFailure::NONE, 0, "COM7: could not be opened or set up"}));

TEST(ResultReportTest, OtherFailuresTakeTheSystemsWordsForTheirNumber) {
    const std::string some = portOpenFailureText("/dev/ttyS0", PortOpenFailure::SYSTEM_ERROR, 5);
    const std::string other = portOpenFailureText("/dev/ttyS0", PortOpenFailure::SYSTEM_ERROR, 2);
    for (const std::string& text : {some, other}) {
        ASSERT_EQ(text.rfind("/dev/ttyS0: ", 0), 0u) << text;
        EXPECT_GT(text.size(), std::string("/dev/ttyS0: ").size()) << text;
        EXPECT_EQ(text.find("could not be opened"), std::string::npos) << text;
        EXPECT_NE(text.back(), '\n') << text;
        EXPECT_NE(text.back(), '.') << text;
    }
    EXPECT_NE(some, other);
    const std::string refused =
        portOpenFailureText("/dev/ttyS0", PortOpenFailure::SETTINGS_REFUSED, 5);
    EXPECT_EQ(refused, "/dev/ttyS0: does not take the line settings (115200 baud, 8N1): " +
                           some.substr(std::string("/dev/ttyS0: ").size()));
    EXPECT_EQ(portOpenFailureText("", PortOpenFailure::IN_USE, 0),
              "the port: in use by another program");
}

TEST(ResultReportTest, LinesExplainPortAndVerifyFailures) {
    TransferOutcome port;
    port.result = SERIALPORT_ERROR;
    port.devicePath = "/dev/ttyS2";
    port.portFailure = PortOpenFailure::IN_USE;
    port.portError = 16;
    EXPECT_EQ(resultLines(port), (std::vector<std::string>{
                                     "SERIALPORT_ERROR", "/dev/ttyS2: in use by another program"}));

    TransferOutcome verify;
    verify.result = VERIFY_FAILED;
    verify.packetIndex = 12;
    verify.address = 0x00C0;
    EXPECT_EQ(resultLines(verify),
              (std::vector<std::string>{"Verification of download failed",
                                        "Block 12 (target address 0x00C0) did not verify"}));

    TransferOutcome ok;
    ok.result = SUCCESS;
    EXPECT_EQ(resultLines(ok), (std::vector<std::string>{"Download completed successfully"}));
    ok.result = 99;
    EXPECT_EQ(resultLines(ok), (std::vector<std::string>{"Result 99"}));
}

}  // namespace
}  // namespace tarnlink
