#include "cli/result_report.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

TEST(ResultReportTest, ExitStatusIsZeroOnlyForEachCommandsOwnSuccess) {
    EXPECT_EQ(exitStatusFor(TransferKind::LOAD, SUCCESS), 0);
    EXPECT_EQ(exitStatusFor(TransferKind::CRYPT, CRYPT_UPLOADED), 0);
    EXPECT_EQ(exitStatusFor(TransferKind::LOAD, CRYPT_UPLOADED), 11);
    EXPECT_EQ(exitStatusFor(TransferKind::CRYPT, SUCCESS), 1);  // never 0 for a crypt
    for (uint8_t r = GENERAL_FAILURE; r <= SERIALPORT_ERROR; ++r) {
        EXPECT_EQ(exitStatusFor(TransferKind::LOAD, r), r);
        EXPECT_EQ(exitStatusFor(TransferKind::CRYPT, r), r);
    }
}

struct PortErrorCase {
    int error;
    const char* expected;
};

class PortErrorTest : public ::testing::TestWithParam<PortErrorCase> {};

TEST_P(PortErrorTest, ExplainsErrno) {
    EXPECT_EQ(portOpenFailureText("/dev/ttyUSB0", GetParam().error), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, PortErrorTest,
    ::testing::Values(
        PortErrorCase{ENOENT, "/dev/ttyUSB0: no such device"},
        PortErrorCase{ENODEV, "/dev/ttyUSB0: no such device"},
        PortErrorCase{ENXIO, "/dev/ttyUSB0: no such device"},
        PortErrorCase{EACCES,
                      "/dev/ttyUSB0: permission denied (join the dialout group: sudo usermod "
                      "-aG dialout $USER, then log in again)"},
        PortErrorCase{EPERM,
                      "/dev/ttyUSB0: permission denied (join the dialout group: sudo usermod "
                      "-aG dialout $USER, then log in again)"},
        PortErrorCase{EBUSY, "/dev/ttyUSB0: in use by another program"},
        PortErrorCase{EWOULDBLOCK, "/dev/ttyUSB0: in use by another program"},
        PortErrorCase{ENOTTY, "/dev/ttyUSB0: not a serial device"},
        PortErrorCase{0, "/dev/ttyUSB0: could not be opened or set up"},
        PortErrorCase{EIO, "/dev/ttyUSB0: Input/output error"}));

TEST(ResultReportTest, LinesExplainPortAndVerifyFailures) {
    TransferOutcome port;
    port.result = SERIALPORT_ERROR;
    port.devicePath = "/dev/ttyS2";
    port.portError = EBUSY;
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
