#include "protocol/frame_receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "protocol/frame_trace.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> g_dispatched;

void recordReceived(FrameDirection direction, const uint8_t* frame, size_t size) {
    if (direction == FrameDirection::RECEIVED) {
        g_dispatched.emplace_back(frame, frame + size);
    }
}

Bytes frameOf(uint8_t command, const Bytes& payload) {
    uint8_t out[FRAME_MAX];
    const size_t size =
        buildFrame(command, payload.data(), static_cast<uint8_t>(payload.size()), out);
    return Bytes(out, out + size);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

void feedAll(const Bytes& bytes) {
    EXPECT_EQ(frameReceiverFeed(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr), 1);
}

void feedOneByOne(const Bytes& bytes) {
    for (uint8_t b : bytes) {
        EXPECT_EQ(frameReceiverFeed(&b, 1, nullptr), 1);
    }
}

// Good frames are seen through the trace, which the receiver calls right before the real
// dispatcher; the context stays idle so the dispatcher ignores them.
class FrameReceiverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_dispatched.clear();
        g_frameReceiver.parseState = RX_HUNT;
        g_transfer.state = STATE_IDLE;
        setFrameObserver(recordReceived);
    }
    void TearDown() override {
        setFrameObserver(nullptr);
        g_transfer.ackEvent = nullptr;
    }
};

struct WorkedExample {
    const char* name;
    Bytes input;
    std::vector<Bytes> dispatched;
};

class WorkedExamples : public FrameReceiverTest,
                       public ::testing::WithParamInterface<WorkedExample> {};

TEST_P(WorkedExamples, DispatchExactlyTheGoodFramesWhicheverWayTheyArrive) {
    const WorkedExample& c = GetParam();
    feedAll(c.input);
    EXPECT_EQ(g_dispatched, c.dispatched);
    EXPECT_EQ(g_frameReceiver.parseState, RX_HUNT);

    g_dispatched.clear();
    feedOneByOne(c.input);
    EXPECT_EQ(g_dispatched, c.dispatched);
    EXPECT_EQ(g_frameReceiver.parseState, RX_HUNT);
}

INSTANTIATE_TEST_SUITE_P(
    Receiver, WorkedExamples,
    ::testing::Values(
        WorkedExample{
            "EmptyHandshake", {0xFE, 0x00, 0x4D, 0x84, 0xC9}, {{0xFE, 0x00, 0x4D, 0x84, 0xC9}}},
        WorkedExample{"WriteStatus",
                      {0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD},
                      {{0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD}}},
        WorkedExample{
            "OtherGroupByte", {0xFE, 0x00, 0x00, 0x84, 0x84}, {{0xFE, 0x00, 0x00, 0x84, 0x84}}},
        WorkedExample{"WrongFcs", {0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCE}, {}},
        WorkedExample{
            "LeadingNoise", {0x00, 0xFE, 0x00, 0x4D, 0x83, 0xCE}, {{0xFE, 0x00, 0x4D, 0x83, 0xCE}}},
        WorkedExample{"NoiseThenFrame",
                      {0x01, 0x4D, 0xFD, 0xFF, 0x00, 0xFE, 0x00, 0x4D, 0x84, 0xC9},
                      {{0xFE, 0x00, 0x4D, 0x84, 0xC9}}},
        // A wrong FCS byte of 0xFE is consumed, not taken as a start byte.
        WorkedExample{
            "WrongFcsIsFe", {0xFE, 0x01, 0x4D, 0x81, 0x00, 0xFE, 0x00, 0x4D, 0x84, 0xC9}, {}},
        // The byte after a wrong FCS is examined as a possible start byte.
        WorkedExample{"FrameRightAfterWrongFcs",
                      {0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCE, 0xFE, 0x00, 0x4D, 0x84, 0xC9},
                      {{0xFE, 0x00, 0x4D, 0x84, 0xC9}}},
        // 0xFE inside a frame is an ordinary byte.
        WorkedExample{"FeInPayloadAndCommand",
                      frameOf(0xFE, {0xFE, 0xFE, 0x01}),
                      {frameOf(0xFE, {0xFE, 0xFE, 0x01})}},
        WorkedExample{
            "BackToBackInOrder",
            concat({frameOf(0x81, {0x00}), frameOf(0x84, {}), frameOf(0x82, Bytes(67, 0x11))}),
            {frameOf(0x81, {0x00}), frameOf(0x84, {}), frameOf(0x82, Bytes(67, 0x11))}}),
    [](const ::testing::TestParamInfo<WorkedExample>& info) { return info.param.name; });

TEST_F(FrameReceiverTest, AnySplitOfAMixedStreamGivesTheSameDispatches) {
    Bytes p127(127);
    for (size_t i = 0; i < p127.size(); ++i) {
        p127[i] = static_cast<uint8_t>(0xFE - i);
    }
    const Bytes stream = concat({{0x00, 0x13},
                                 frameOf(0x81, {0x00}),
                                 {0xFE, 0x01, 0x4D, 0x81, 0x00, 0x00},
                                 frameOf(0x82, p127),
                                 {0x42},
                                 frameOf(0x83, {})});
    const std::vector<Bytes> expected = {frameOf(0x81, {0x00}), frameOf(0x82, p127),
                                         frameOf(0x83, {})};
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, stream.size()}) {
        g_dispatched.clear();
        for (size_t at = 0; at < stream.size(); at += chunk) {
            const size_t n = std::min(chunk, stream.size() - at);
            EXPECT_EQ(frameReceiverFeed(stream.data() + at, static_cast<int32_t>(n), nullptr), 1);
        }
        EXPECT_EQ(g_dispatched, expected) << "chunk " << chunk;
    }
}

TEST_F(FrameReceiverTest, FeedReturnsOneAndChangesNothingForNoBytes) {
    const uint8_t header[] = {0xFE, 0x01};
    frameReceiverFeed(header, 2, nullptr);
    ASSERT_EQ(g_frameReceiver.parseState, RX_GROUP);
    EXPECT_EQ(frameReceiverFeed(header, 0, nullptr), 1);
    EXPECT_EQ(frameReceiverFeed(nullptr, 0, nullptr), 1);
    EXPECT_EQ(frameReceiverFeed(nullptr, -5, nullptr), 1);
    EXPECT_EQ(g_frameReceiver.parseState, RX_GROUP);
    const uint8_t rest[] = {0x4D, 0x81, 0x00, 0xCD};
    EXPECT_EQ(frameReceiverFeed(rest, 4, nullptr), 1);
    EXPECT_EQ(g_dispatched, (std::vector<Bytes>{{0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD}}));
}

TEST_F(FrameReceiverTest, LengthByteFeDoesNotRestartTheParser) {
    const uint8_t bytes[] = {0xFE, 0xFE, 0xFE, 0xFE};
    frameReceiverFeed(bytes, 1, nullptr);
    EXPECT_EQ(g_frameReceiver.parseState, RX_LENGTH);
    frameReceiverFeed(bytes + 1, 1, nullptr);
    EXPECT_EQ(g_frameReceiver.parseState, RX_GROUP);
    frameReceiverFeed(bytes + 2, 1, nullptr);
    EXPECT_EQ(g_frameReceiver.parseState, RX_COMMAND);
    frameReceiverFeed(bytes + 3, 1, nullptr);
    EXPECT_EQ(g_frameReceiver.parseState, RX_PAYLOAD);
    EXPECT_EQ(g_frameReceiver.length, 0xFE);
}

class PayloadLimit : public FrameReceiverTest, public ::testing::WithParamInterface<int> {};

TEST_P(PayloadLimit, OnlyFramesUpTo127PayloadBytesAreDispatched) {
    const int announced = GetParam();
    // Payload bytes never 0xFE, so only the byte after the 128th can start a frame.
    Bytes frame = {0xFE, static_cast<uint8_t>(announced), 0x4D, 0x82};
    uint8_t fcs = static_cast<uint8_t>(announced) ^ 0x4D ^ 0x82;
    for (int i = 0; i < announced; ++i) {
        const uint8_t b = static_cast<uint8_t>(i % 0xF0);
        frame.push_back(b);
        fcs ^= b;
    }
    frame.push_back(fcs);

    if (announced < static_cast<int>(RX_PAYLOAD_MAX)) {
        feedOneByOne(frame);
        EXPECT_EQ(g_dispatched, std::vector<Bytes>{frame});
        return;
    }
    // Up to the 128th payload byte the frame is being received; with it, it is abandoned.
    const Bytes head(frame.begin(), frame.begin() + 4 + RX_PAYLOAD_MAX - 1);
    feedOneByOne(head);
    EXPECT_EQ(g_frameReceiver.parseState, RX_PAYLOAD);
    feedOneByOne({frame[4 + RX_PAYLOAD_MAX - 1]});
    EXPECT_EQ(g_frameReceiver.parseState, RX_HUNT);
    EXPECT_EQ(g_frameReceiver.received, RX_PAYLOAD_MAX);
    // A 0xFE right after the 128th payload byte starts a new frame.
    const Bytes next = frameOf(0x84, {});
    feedAll(next);
    EXPECT_EQ(g_dispatched, std::vector<Bytes>{next});

    // Fed whole with the rest of its bytes, nothing of the long frame is dispatched.
    g_dispatched.clear();
    g_frameReceiver.parseState = RX_HUNT;
    feedAll(frame);
    EXPECT_TRUE(g_dispatched.empty());
}

INSTANTIATE_TEST_SUITE_P(Receiver, PayloadLimit,
                         ::testing::Values(126, 127, 128, 129, 200, 250, 254, 255),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Announced" + std::to_string(info.param);
                         });

TEST_F(FrameReceiverTest, EmptyFrameHandsOverThePayloadThatEarlierFramesLeft) {
    AutoResetEvent ack;
    g_transfer.ackEvent = &ack;
    // In STATE_WRITE the dispatcher reads status byte 0 even of an empty write response.
    g_transfer.state = STATE_WRITE;
    g_transfer.result = TARGET_TIMEOUT;
    feedAll(frameOf(0x84, {0x01, 0xAB}));  // ignored in STATE_WRITE, leaves 01 AB behind
    EXPECT_EQ(g_transfer.state, STATE_WRITE);
    feedAll({0xFE, 0x00, 0x4D, 0x81, 0xCC});
    EXPECT_EQ(g_frameReceiver.payload[0], 0x01);
    EXPECT_EQ(g_frameReceiver.payload[1], 0xAB);
    EXPECT_EQ(g_transfer.state, STATE_IDLE);
    EXPECT_EQ(g_transfer.result, GENERAL_FAILURE);
    EXPECT_EQ(ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
}

TEST_F(FrameReceiverTest, GoodHandshakeReachesTheDispatcherAndBadOneDoesNot) {
    AutoResetEvent ack;
    g_transfer.ackEvent = &ack;
    g_transfer.state = STATE_CONNECT;
    expectAnswer(g_transfer, 0x04);
    feedAll({0xFE, 0x00, 0x4D, 0x84, 0xC8});
    EXPECT_EQ(ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    feedOneByOne({0xFE, 0x00, 0x4D, 0x84, 0xC9});
    EXPECT_EQ(ack.wait(0), AutoResetEvent::WaitResult::SIGNALLED);
    EXPECT_EQ(g_transfer.state, STATE_CONNECT);
}

}  // namespace
}  // namespace tarnlink
