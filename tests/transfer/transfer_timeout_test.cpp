// The cases that take seconds: a silent target's repeats, the longest image, the crypt
// request's long wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/transfer/sim_transfer_fixture.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using namespace std::chrono_literals;
using test::frameAddress;
using test::frameCommand;
using test::paddedImage;
using test::patternImage;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class TransferTimeoutTest : public test::SimTransferTest {};

// The spacing of the host's frames on its own clock: each at least `minMs` after the one
// before (the wait that separates them), and on average not far above it.
void expectSpacing(const std::vector<test::SentFrame>& frames, int64_t minMs, int64_t maxMeanMs) {
    ASSERT_GE(frames.size(), 2u);
    for (const int64_t gap : test::gapsMs(frames)) {
        EXPECT_GE(gap, minMs - 1);
    }
    const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(frames.back().time -
                                                                             frames.front().time);
    EXPECT_LE(total.count() / static_cast<int64_t>(frames.size() - 1), maxMeanMs);
}

TEST_F(TransferTimeoutTest, SilentTargetGets201ConnectFramesThenTimesOut) {
    sim::SimOptions options;
    options.silent = true;
    startSim(options);
    stampSentFrames();
    const std::string image = m_dir.write("image.bin", patternImage(200));
    const auto started = Clock::now();
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(60000), TARGET_TIMEOUT);
    const auto took = m_recorder->resultTimes()[0] - started;
    EXPECT_GT(took, 10000ms);  // 201 waits of 50 ms
    EXPECT_LT(took, 30000ms);

    const auto frames = hostFrames();
    ASSERT_EQ(frames.size(), 201u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frameCommand(frames[i]), i % 2 == 0 ? 0x10 : 0x04) << "frame " << i;
    }
    expectSpacing(sentFrames(), 50, 150);
    EXPECT_TRUE(m_recorder->progress().empty()) << "no progress before the first block";
    EXPECT_EQ(m_recorder->statuses().size(), 201u);
}

struct UnansweredCase {
    const char* name;
    uint8_t mute;               ///< the request kind the target leaves unanswered
    std::vector<int> progress;  ///< set on a block's first send only
    const char* status;         ///< shown with every send, or with none
    int statusCount;
};

void PrintTo(const UnansweredCase& c, std::ostream* out) {
    *out << c.name;
}

class UnansweredRequestTest : public TransferTimeoutTest,
                              public ::testing::WithParamInterface<UnansweredCase> {};

// A one-block download whose target stops answering one kind of request: that request
// goes out 6 times, the same bytes each time, 500 ms apart, then TARGET_TIMEOUT; nothing
// comes after it.
TEST_P(UnansweredRequestTest, IsSentSixTimesHalfASecondApartThenTimesOut) {
    const UnansweredCase& c = GetParam();
    sim::SimOptions options;
    options.muteCommand = c.mute;
    startSim(options);
    stampSentFrames();
    const std::string image = m_dir.write("image.bin", patternImage(50));
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), TARGET_TIMEOUT);

    const auto repeated = sentFrames(c.mute);
    ASSERT_EQ(repeated.size(), 6u);
    for (const auto& frame : repeated) {
        EXPECT_EQ(frame.bytes, repeated[0].bytes) << "a repeat sends the same request";
    }
    expectSpacing(repeated, 500, 1000);
    EXPECT_EQ(sentFrames().back().bytes, repeated.back().bytes) << "nothing after the last";
    const auto took = m_recorder->resultTimes()[0] - repeated.back().time;
    EXPECT_GE(took, 490ms);
    EXPECT_LT(took, 3000ms);
    EXPECT_EQ(m_recorder->results(), (std::vector<uint8_t>{TARGET_TIMEOUT}));
    EXPECT_EQ(m_recorder->progress(), c.progress);
    const auto statuses = m_recorder->statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), c.status), c.statusCount);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UnansweredRequestTest,
    ::testing::Values(UnansweredCase{"Write", 0x01, {0}, "Sending Data Packet 0", 6},
                      UnansweredCase{"VerifyRead", 0x02, {0, 50}, "Verifying Data Packet 0", 6},
                      UnansweredCase{"Enable", 0x03, {0, 50}, "Verifying Data Packet 0", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTimeoutTest, LongestImageEndsBothPhasesAtTheLastAddressWithoutWrapping) {
    startSim();
    const Bytes bytes = patternImage(262140, 9);
    const std::string image = m_dir.write("longest.bin", bytes);
    startDownload(image.c_str(), port().c_str(), 0);
    // Under the sanitizers on a busy machine this can take minutes; the test's own time
    // limit is set well above this wait.
    ASSERT_EQ(awaitResult(240000), SUCCESS);

    size_t writes = 0;
    size_t reads = 0;
    uint16_t lastWrite = 0;
    uint16_t lastRead = 0;
    for (const auto& frame : hostFrames()) {
        if (frameCommand(frame) == 0x01) {
            ++writes;
            lastWrite = frameAddress(frame);
        } else if (frameCommand(frame) == 0x02) {
            ++reads;
            lastRead = frameAddress(frame);
        }
    }
    EXPECT_EQ(writes, 4096u);
    EXPECT_EQ(reads, 4096u);
    EXPECT_EQ(lastWrite, 0xFFF0);
    EXPECT_EQ(lastRead, 0xFFF0);
    EXPECT_EQ(m_sim->flash(), paddedImage(bytes));
    const auto progress = m_recorder->progress();
    ASSERT_EQ(progress.size(), 8192u);
    EXPECT_EQ(progress[4095], 49);
    EXPECT_EQ(progress[4096], 50);
    EXPECT_EQ(progress.back(), 99);
    EXPECT_EQ(m_recorder->statuses().back(), "Verifying Data Packet 4095");
}

TEST_F(TransferTimeoutTest, RefusedCryptRequestFailsAfterTheLongWaitWithAnEmptyFile) {
    sim::SimOptions options;
    options.refuseCrypt = true;
    startSim(options);
    const std::string output = m_dir.write("crypt.bin", Bytes(500, 0x5A));
    const auto started = Clock::now();
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(20000), GENERAL_FAILURE);
    const auto took = m_recorder->resultTimes()[0] - started;
    EXPECT_GT(took, 6000ms);
    EXPECT_LT(took, 12000ms);
    EXPECT_TRUE(test::readFile(output).empty()) << "the old content is cut at the start";
    EXPECT_EQ(m_recorder->statuses(), (std::vector<std::string>{"Requesting crypt..."}));
}

// The target accepts nothing after the crypt request: it never answers it.
class CryptRequestUnansweredTest : public TransferTimeoutTest {
  protected:
    void SetUp() override {
        TransferTimeoutTest::SetUp();
        sim::SimOptions options;
        options.muteCommand = 0x20;
        startSim(options);
        stampSentFrames();
        m_output = m_dir.write("crypt.bin", Bytes(100, 0x33));
        startCryptReadBack(m_output.c_str(), port().c_str());
    }
    // From the crypt request as the host sent it to the result.
    Clock::duration sinceRequest() const {
        const auto requests = sentFrames(0x20);
        return requests.size() == 1 ? m_recorder->resultTimes()[0] - requests[0].time
                                    : Clock::duration::max();
    }
    void expectNothingRead() const {
        EXPECT_TRUE(sentFrames(0x02).empty()) << "no block is asked for";
        EXPECT_TRUE(test::readFile(m_output).empty()) << "the old content is cut at the start";
        EXPECT_EQ(m_recorder->statuses(), (std::vector<std::string>{"Requesting crypt..."}));
    }
    std::string m_output;
};

TEST_F(CryptRequestUnansweredTest, TimesOutWhenTheLongWaitRunsOut) {
    ASSERT_EQ(awaitResult(20000), TARGET_TIMEOUT);
    EXPECT_GE(sinceRequest(), 5990ms);
    EXPECT_LT(sinceRequest(), 9000ms);
    expectNothingRead();
}

TEST_F(CryptRequestUnansweredTest, CancelEndsItWithinTheLongWait) {
    ASSERT_TRUE(m_recorder->waitForStatus("Requesting crypt...", 5000));
    std::this_thread::sleep_for(200ms);
    cancelTransfer();
    ASSERT_EQ(awaitResult(20000), DOWNLOAD_CANCELED);
    EXPECT_LT(sinceRequest(), 9000ms);
    expectNothingRead();
}

}  // namespace
}  // namespace tarnlink
