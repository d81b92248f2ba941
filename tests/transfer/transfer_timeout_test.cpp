// The cases that take seconds: a silent target's repeats, the longest image, the crypt
// request's long wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

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

std::vector<uint64_t> gapsMs(const std::vector<sim::LoggedFrame>& frames) {
    std::vector<uint64_t> gaps;
    for (size_t i = 1; i < frames.size(); ++i) {
        gaps.push_back((frames[i].timeUs - frames[i - 1].timeUs) / 1000);
    }
    return gaps;
}

uint64_t median(std::vector<uint64_t> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

TEST_F(TransferTimeoutTest, SilentTargetGets201ConnectFramesThenTimesOut) {
    sim::SimOptions options;
    options.silent = true;
    startSim(options);
    const std::string image = m_dir.write("image.bin", patternImage(200));
    const auto started = Clock::now();
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(30000), TARGET_TIMEOUT);
    const auto took = m_recorder->resultTimes()[0] - started;
    EXPECT_GT(took, 9500ms);
    EXPECT_LT(took, 20000ms);

    const auto frames = hostFrames();
    ASSERT_EQ(frames.size(), 201u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frameCommand(frames[i]), i % 2 == 0 ? 0x10 : 0x04) << "frame " << i;
    }
    // The target stamps a frame when it has read it, so one late read shortens the gap
    // after it; the spacing is judged over the whole run.
    const auto gaps = gapsMs(frames);
    const uint64_t meanGapMs = (frames.back().timeUs - frames.front().timeUs) / 200 / 1000;
    EXPECT_GE(meanGapMs, 48u);
    EXPECT_LE(meanGapMs, 80u);
    EXPECT_GE(median(gaps), 45u);
    EXPECT_TRUE(m_recorder->progress().empty()) << "no progress before the first block";
    EXPECT_EQ(m_recorder->statuses().size(), 201u);
}

TEST_F(TransferTimeoutTest, TargetSilentAfterTheHandshakeGetsBlockZeroSixTimes) {
    sim::SimOptions options;
    options.stopAfterFrames = 2;  // the probe and the handshake
    startSim(options);
    const std::string image = m_dir.write("image.bin", patternImage(200));
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), TARGET_TIMEOUT);

    std::vector<sim::LoggedFrame> writes;
    for (const auto& frame : hostFrames()) {
        if (frameCommand(frame) == 0x01)
            writes.push_back(frame);
    }
    ASSERT_EQ(writes.size(), 6u);
    for (const auto& frame : writes) {
        EXPECT_EQ(frameAddress(frame), 0);
        EXPECT_EQ(frame.bytes, writes[0].bytes) << "a repeat sends the same block";
    }
    for (auto gap : gapsMs(writes)) {
        EXPECT_GE(gap, 300u);
        EXPECT_LE(gap, 1200u);
    }
    const uint64_t meanGapMs = (writes.back().timeUs - writes.front().timeUs) / 5 / 1000;
    EXPECT_GE(meanGapMs, 490u);
    EXPECT_LE(meanGapMs, 700u);
    EXPECT_EQ(m_recorder->results(), (std::vector<uint8_t>{TARGET_TIMEOUT}));
    EXPECT_EQ(m_recorder->progress(), (std::vector<int>{0})) << "set on the first send only";
    const auto statuses = m_recorder->statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Sending Data Packet 0"), 6);
}

TEST_F(TransferTimeoutTest, LongestImageEndsBothPhasesAtTheLastAddressWithoutWrapping) {
    startSim();
    const Bytes bytes = patternImage(262140, 9);
    const std::string image = m_dir.write("longest.bin", bytes);
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(170000), SUCCESS);

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
    ASSERT_EQ(awaitResult(15000), GENERAL_FAILURE);
    const auto took = m_recorder->resultTimes()[0] - started;
    EXPECT_GT(took, 5900ms);
    EXPECT_LT(took, 9000ms);
    EXPECT_TRUE(test::readFile(output).empty()) << "the old content is cut at the start";
    EXPECT_EQ(m_recorder->statuses(), (std::vector<std::string>{"Requesting crypt..."}));
}

}  // namespace
}  // namespace tarnlink
