#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes build(uint8_t command, const Bytes& payload) {
    uint8_t out[FRAME_MAX];
    const size_t size = buildFrame(command, payload.empty() ? nullptr : payload.data(),
                                   static_cast<uint8_t>(payload.size()), out);
    return Bytes(out, out + size);
}

TEST(BuildFrame, EmptyPayloadPutsTheFcsRightAfterTheCommandAndNeverReadsThePointer) {
    uint8_t out[8];
    ASSERT_EQ(buildFrame(CMD_ENABLE, nullptr, 0, out), 5u);
    EXPECT_EQ(Bytes(out, out + 5), (Bytes{0xFE, 0x00, 0x4D, 0x03, 0x4E}));
}

TEST(BuildFrame, WritesExactlyLengthPlusFiveBytes) {
    uint8_t out[16];
    std::fill(std::begin(out), std::end(out), 0xAA);
    const uint8_t payload[2] = {0x10, 0x00};
    ASSERT_EQ(buildFrame(CMD_READ, payload, 2, out), 7u);
    EXPECT_EQ(Bytes(out, out + 7), (Bytes{0xFE, 0x02, 0x4D, 0x02, 0x10, 0x00, 0x5D}));
    EXPECT_EQ(out[7], 0xAA);
}

TEST(BuildFrame, PayloadFeStaysUnescapedAndTheFcsCoversEveryPayloadByte) {
    Bytes payload(250);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 37 + 1);
    }
    payload[0] = 0xFE;
    payload[249] = 0xFE;
    const Bytes frame = build(0x7E, payload);
    ASSERT_EQ(frame.size(), 255u);
    EXPECT_EQ(frame[1], 250);
    EXPECT_EQ(frame[2], FRAME_GROUP);
    EXPECT_EQ(frame[3], 0x7E);
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.end() - 1), payload);
    uint8_t fcs = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        fcs ^= frame[i];
    }
    EXPECT_EQ(frame.back(), fcs);
    // Flipping any one payload bit must change the FCS.
    payload[100] ^= 0x01;
    EXPECT_NE(build(0x7E, payload).back(), frame.back());
}

}  // namespace
}  // namespace tarnlink
