// The turnaround and byte counts that the worker and the reader record, fed through the real
// frame receiver as the reader thread would feed it.

#include "protocol/exchange_timing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "protocol/frame_receiver.h"

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes HANDSHAKE_ANSWER{0xFE, 0x00, 0x4D, 0x84, 0xC9};
const Bytes WRITE_ACK{0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD};

void feed(const Bytes& bytes) {
    frameReceiverFeed(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr);
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class ExchangeTimingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_frameReceiver.parseState.store(RX_HUNT);
        resetExchangeTiming();
    }
};

TEST_F(ExchangeTimingTest, TurnaroundRunsFromTheRequestToTheStartByteOfItsAnswer) {
    noteRequestWriting(0);  // no bytes, so no wire time to wait for
    sleepMs(20);
    feed(HANDSHAKE_ANSWER);
    const ExchangeFigures figures = exchangeFigures();
    ASSERT_EQ(figures.turnaroundUs.size(), 1u);
    EXPECT_GE(figures.turnaroundUs[0], 20'000u);
    EXPECT_LT(figures.turnaroundUs[0], 5'000'000u);
    EXPECT_EQ(figures.bytesReceived, HANDSHAKE_ANSWER.size());
}

TEST_F(ExchangeTimingTest, TheRequestsOwnWireTimeIsNotCounted) {
    // 1152 bytes take 100 ms at 115200 baud: an answer cannot start before they are out.
    noteRequestWriting(1152);
    feed(WRITE_ACK);
    // 71 bytes (a write request) take 6.16 ms.
    const auto before = std::chrono::steady_clock::now();
    noteRequestWriting(71);
    sleepMs(20);
    feed(WRITE_ACK);
    const auto waitedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - before)
                              .count();
    const ExchangeFigures figures = exchangeFigures();
    ASSERT_EQ(figures.turnaroundUs.size(), 2u);
    EXPECT_EQ(figures.turnaroundUs[0], 0u) << "an answer during the request counts as at once";
    constexpr uint32_t WIRE_US = 71 * 10 * 1'000'000 / 115200;
    EXPECT_GE(figures.turnaroundUs[1], 20'000u - WIRE_US);
    EXPECT_LE(figures.turnaroundUs[1], waitedUs - WIRE_US) << "the wire time was not taken off";
    EXPECT_EQ(figures.bytesSent, 1152u + 71u);
}

TEST_F(ExchangeTimingTest, OnlyTheFirstStartByteAfterARequestEndsItsTurnaround) {
    noteRequestWriting(6);
    feed(HANDSHAKE_ANSWER);
    // A second copy of the answer, and noise that happens to hold a start byte.
    sleepMs(10);
    feed(WRITE_ACK);
    feed({0x00, 0xFE, 0x00, 0x4D, 0x84, 0x00});  // bad FCS: dropped, still counted
    const ExchangeFigures figures = exchangeFigures();
    ASSERT_EQ(figures.turnaroundUs.size(), 1u);
    EXPECT_LT(figures.turnaroundUs[0], 10'000u);
    EXPECT_EQ(figures.bytesReceived, HANDSHAKE_ANSWER.size() + WRITE_ACK.size() + 5);
}

TEST_F(ExchangeTimingTest, KeepsTheFirstExchangesAndCountsTheBytesOfAll) {
    constexpr uint32_t EXCHANGES = TURNAROUND_SAMPLES + 8;
    for (uint32_t i = 0; i < EXCHANGES; ++i) {
        noteRequestWriting(7);
        feed(WRITE_ACK);
    }
    ExchangeFigures figures = exchangeFigures();
    EXPECT_EQ(figures.turnaroundUs.size(), TURNAROUND_SAMPLES);
    EXPECT_EQ(figures.bytesSent, EXCHANGES * 7u);
    EXPECT_EQ(figures.bytesReceived, EXCHANGES * WRITE_ACK.size());

    resetExchangeTiming();
    figures = exchangeFigures();
    EXPECT_TRUE(figures.turnaroundUs.empty());
    EXPECT_EQ(figures.bytesSent, 0u);
    EXPECT_EQ(figures.bytesReceived, 0u);
    feed(WRITE_ACK);
    EXPECT_TRUE(exchangeFigures().turnaroundUs.empty()) << "no request was waiting";
}

TEST_F(ExchangeTimingTest, ReaderAndWorkerRecordFromTheirOwnThreads) {
    // The worker stamps, the reader answers: run them as two threads, as in a transfer.
    for (int i = 0; i < 50; ++i) {
        noteRequestWriting(7);
        std::thread reader([] { feed(WRITE_ACK); });
        reader.join();
    }
    const ExchangeFigures figures = exchangeFigures();
    EXPECT_EQ(figures.turnaroundUs.size(), TURNAROUND_SAMPLES);
    EXPECT_EQ(figures.bytesReceived, 50 * WRITE_ACK.size());
}

}  // namespace
}  // namespace tarnlink
