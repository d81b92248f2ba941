// How the worker's wait for its answer reads what it finds: the answer's token, the
// dispatcher's signal and state, and a lost port. Each case sets the context up as the
// reader would have left it, then waits a short while.
#include "transfer/worker_lifecycle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

struct WaitCase {
    const char* name;
    uint8_t state;       ///< the state the worker waits in
    bool taken;          ///< the dispatcher has taken the awaited answer
    bool signalled;      ///< ackEvent holds a signal
    bool portLost;       ///< the reader has lost the port
    uint8_t stateAfter;  ///< the state the dispatcher left, if it changed it
    bool answered;       ///< what waitForAnswer returns
    uint8_t expectedState;
    uint8_t expectedResult;
};

void PrintTo(const WaitCase& c, std::ostream* out) {
    *out << c.name;
}

class WaitForAnswer : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitForAnswer, DecidesByTheTokenAndTheLostPortNotByTheSignalAlone) {
    const WaitCase& c = GetParam();
    TransferContext ctx;
    AutoResetEvent ack;
    ctx.state.store(c.state);
    ctx.result.store(GENERAL_FAILURE);
    expectAnswer(ctx, CMD_WRITE);
    if (c.taken) {
        ASSERT_TRUE(takeAwaitedAnswer(ctx, CMD_WRITE));
    }
    if (c.stateAfter != c.state) {
        ctx.state.store(c.stateAfter);
    }
    if (c.signalled) {
        ack.signal();
    }
    ctx.portLost.store(c.portLost);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForAnswer(ctx, ack, 60), c.answered);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ctx.state.load(), c.expectedState);
    EXPECT_EQ(ctx.result.load(), c.expectedResult);
}

INSTANTIATE_TEST_SUITE_P(
    Findings, WaitForAnswer,
    testing::Values(
        // The answer was taken, its signal is still to come (a slow file write): it counts.
        WaitCase{"TakenSignalLate", STATE_WRITE, true, false, false, STATE_WRITE, true, STATE_WRITE,
                 GENERAL_FAILURE},
        WaitCase{"TakenAndSignalled", STATE_WRITE, true, true, false, STATE_WRITE, true,
                 STATE_WRITE, GENERAL_FAILURE},
        // A signal left over from an earlier answer is no answer to this request.
        WaitCase{"StaleSignal", STATE_WRITE, false, true, false, STATE_WRITE, false, STATE_WRITE,
                 GENERAL_FAILURE},
        WaitCase{"Silence", STATE_WRITE, false, false, false, STATE_WRITE, false, STATE_WRITE,
                 GENERAL_FAILURE},
        // The dispatcher ended the transfer and signalled (the end of a crypt's data).
        WaitCase{"EndedWithASignal", STATE_CRYPT, false, true, false, STATE_IDLE, true, STATE_IDLE,
                 GENERAL_FAILURE},
        // The port went away: the transfer ends now, with SERIALPORT_ERROR.
        WaitCase{"PortLost", STATE_WRITE, false, true, true, STATE_WRITE, true, STATE_IDLE,
                 SERIALPORT_ERROR},
        WaitCase{"PortLostUnsignalled", STATE_VERIFY, false, false, true, STATE_VERIFY, true,
                 STATE_IDLE, SERIALPORT_ERROR},
        // An answer taken before the port went away still counts (a board that restarts
        // after its enable, its USB port with it).
        WaitCase{"TakenThenPortLost", STATE_ENABLE, true, true, true, STATE_ENABLE, true,
                 STATE_ENABLE, GENERAL_FAILURE},
        // A transfer that has already ended, or that the user cancelled, keeps its end.
        WaitCase{"PortLostAfterTheEnd", STATE_VERIFY, false, false, true, STATE_IDLE, true,
                 STATE_IDLE, GENERAL_FAILURE},
        WaitCase{"PortLostAfterACancel", STATE_WRITE, false, false, true, STATE_CANCEL, true,
                 STATE_CANCEL, GENERAL_FAILURE}),
    [](const testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnlink
