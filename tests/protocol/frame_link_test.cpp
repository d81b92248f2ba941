// The protocol over a real serial link on a pseudo-terminal: the test reads what the
// target would see on the other end, and answers as the target would.
#include "link/auto_reset_event.h"
#include "link/serial_link.h"
#include "protocol/frame.h"
#include "protocol/frame_receiver.h"
#include "protocol/frame_trace.h"
#include "tests/support/pty_pair.h"
#include "transfer/transfer_context.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes writeBlock() {
    Bytes block(BLOCK_BYTES);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i);
    }
    block[5] = 0xFE;
    return block;
}

Bytes expectedWrite() {
    // FE 42 4D 01, address 0x1234 low byte first, the 64 bytes, FCS over all of it.
    Bytes frame = {0xFE, 0x42, 0x4D, 0x01, 0x34, 0x12};
    const Bytes block = writeBlock();
    frame.insert(frame.end(), block.begin(), block.end());
    uint8_t fcs = 0;
    for (size_t i = 1; i < frame.size(); ++i) {
        fcs ^= frame[i];
    }
    frame.push_back(fcs);
    return frame;
}

struct EncoderCase {
    const char* name;
    std::function<void()> send;
    Bytes expected;
};

class Encoders : public ::testing::TestWithParam<EncoderCase> {
  protected:
    void SetUp() override {
        m_link = serialLinkOpen(m_pty.slavePath().c_str(), frameReceiverFeed, nullptr);
        ASSERT_NE(m_link, nullptr);
        g_transfer.link = m_link;
    }
    void TearDown() override {
        g_transfer.link = nullptr;
        serialLinkClose(m_link);
    }

    test::PtyPair m_pty;
    SerialLink* m_link = nullptr;
};

TEST_P(Encoders, SendExactlyTheFrameOnTheLink) {
    const EncoderCase& c = GetParam();
    c.send();
    const Bytes got = m_pty.read(c.expected.size() + 1, 500);
    EXPECT_EQ(got, c.expected);
}

const Bytes kBlock = writeBlock();

INSTANTIATE_TEST_SUITE_P(
    Frames, Encoders,
    ::testing::Values(
        EncoderCase{"Enable", [] { sendEnable(); }, {0xFE, 0x00, 0x4D, 0x03, 0x4E}},
        EncoderCase{"CryptRequest", [] { sendCryptRequest(); }, {0xFE, 0x00, 0x4D, 0x20, 0x6D}},
        EncoderCase{"Handshake", [] { sendHandshake(); }, {0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4A}},
        EncoderCase{"Probe", [] { sendProbe(); }, {0xFE, 0x01, 0x4D, 0x10, 0x00, 0x5C}},
        EncoderCase{
            "Read0010", [] { sendRead(0x0010); }, {0xFE, 0x02, 0x4D, 0x02, 0x10, 0x00, 0x5D}},
        EncoderCase{
            "ReadFFF0", [] { sendRead(0xFFF0); }, {0xFE, 0x02, 0x4D, 0x02, 0xF0, 0xFF, 0x42}},
        EncoderCase{"WriteWithFeInPayload", [] { sendWrite(0x1234, kBlock.data()); },
                    expectedWrite()},
        // A payload too long for the link's 8-bit count is dropped; the next frame is whole.
        EncoderCase{"OverlongPayloadDropped",
                    [] {
                        const Bytes big(251, 0x55);
                        sendFrame(0x01, big.data(), 251);
                        sendEnable();
                    },
                    {0xFE, 0x00, 0x4D, 0x03, 0x4E}}),
    [](const ::testing::TestParamInfo<EncoderCase>& info) { return info.param.name; });

TEST(EncoderTrace, ObserverSeesEachSentFrameWhole) {
    test::PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), frameReceiverFeed, nullptr);
    ASSERT_NE(link, nullptr);
    g_transfer.link = link;
    static std::vector<Bytes> seen;
    setFrameObserver([](FrameDirection direction, const uint8_t* frame, size_t size) {
        if (direction == FrameDirection::SENT) {
            seen.emplace_back(frame, frame + size);
        }
    });
    sendWrite(0x1234, kBlock.data());
    sendRead(0x0010);
    setFrameObserver(nullptr);
    g_transfer.link = nullptr;
    serialLinkClose(link);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], expectedWrite());
    EXPECT_EQ(seen[1], (Bytes{0xFE, 0x02, 0x4D, 0x02, 0x10, 0x00, 0x5D}));
}

TEST(EncoderTrace, WithoutALinkNothingIsSentOrTraced) {
    static int calls = 0;
    setFrameObserver([](FrameDirection, const uint8_t*, size_t) { ++calls; });
    g_transfer.link = nullptr;
    sendEnable();
    sendRead(0x10);
    setFrameObserver(nullptr);
    EXPECT_EQ(calls, 0);
}

TEST(ReceiveOverLink, ResponseFromTheTargetReachesTheDispatcherOnTheReaderThread) {
    test::PtyPair pty;
    AutoResetEvent ack;
    g_frameReceiver.parseState = RX_HUNT;
    g_transfer.state = STATE_CONNECT;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), frameReceiverFeed, nullptr);
    ASSERT_NE(link, nullptr);
    g_transfer.link = link;
    g_transfer.ackEvent = &ack;
    expectAnswer(g_transfer, 0x04);
    sendHandshake();
    EXPECT_EQ(pty.read(6, 1000), (Bytes{0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4A}));
    // A bad frame first: it must not acknowledge.
    pty.write({0x00, 0xFE, 0x00, 0x4D, 0x84, 0xC8});
    EXPECT_EQ(ack.wait(300), AutoResetEvent::WaitResult::TIMEOUT);
    pty.write({0xFE, 0x00, 0x4D, 0x84, 0xC9});
    EXPECT_EQ(ack.wait(2000), AutoResetEvent::WaitResult::SIGNALLED);
    g_transfer.link = nullptr;
    serialLinkClose(link);  // stops the reader before the event goes
    g_transfer.ackEvent = nullptr;
    g_transfer.state = STATE_IDLE;
}

}  // namespace
}  // namespace tarnlink
