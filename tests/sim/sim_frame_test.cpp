// The simulator's own frame builder and parser, checked against bytes worked out by hand,
// and its crypt transform.

#include <gtest/gtest.h>

#include "sim/sim_frame.h"
#include "sim/sim_target.h"

namespace tarnlink::sim {
namespace {

std::vector<uint8_t> withFf(std::vector<uint8_t> head, uint8_t fcs) {
    head.insert(head.end(), 64, 0xFF);
    head.push_back(fcs);
    return head;
}

struct EncodeCase {
    const char* name;
    uint8_t command;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> bytes;
};

class SimFrameEncode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(SimFrameEncode, BuildsTheWorkedBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(encodeSimFrame(c.command, c.payload), c.bytes);
}

std::vector<uint8_t> ffPayload(std::vector<uint8_t> head) {
    head.insert(head.end(), 64, 0xFF);
    return head;
}

INSTANTIATE_TEST_SUITE_P(
    Worked, SimFrameEncode,
    ::testing::Values(
        EncodeCase{"handshake_answer", 0x84, {}, {0xFE, 0x00, 0x4D, 0x84, 0xC9}},
        EncodeCase{"write_ack", 0x81, {0x00}, {0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD}},
        EncodeCase{"read_answer_ff", 0x82, ffPayload({0x00, 0x00, 0x00}),
                   withFf({0xFE, 0x43, 0x4D, 0x82, 0x00, 0x00, 0x00}, 0x8C)},
        EncodeCase{"enable_answer", 0x83, {}, {0xFE, 0x00, 0x4D, 0x83, 0xCE}},
        EncodeCase{"enable_request", 0x03, {}, {0xFE, 0x00, 0x4D, 0x03, 0x4E}},
        EncodeCase{"crypt_request", 0x20, {}, {0xFE, 0x00, 0x4D, 0x20, 0x6D}},
        EncodeCase{"probe_request", 0x10, {0x00}, {0xFE, 0x01, 0x4D, 0x10, 0x00, 0x5C}},
        EncodeCase{"read_fff0", 0x02, {0xF0, 0xFF}, {0xFE, 0x02, 0x4D, 0x02, 0xF0, 0xFF, 0x42}},
        EncodeCase{"write_ff_block", 0x01, ffPayload({0x00, 0x00}),
                   withFf({0xFE, 0x42, 0x4D, 0x01, 0x00, 0x00}, 0x0E)}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<SimFrame> feedAll(SimFrameParser& parser, const std::vector<uint8_t>& bytes) {
    std::vector<SimFrame> frames;
    for (const uint8_t byte : bytes) {
        if (auto frame = parser.feed(byte)) {
            frames.push_back(*frame);
        }
    }
    return frames;
}

TEST(SimFrameParser, SkipsNoiseAndKeepsStartBytesInsideAFrame) {
    SimFrameParser parser;
    // Noise, then a write whose address and data hold 0xFE, then a read right behind it.
    std::vector<uint8_t> payload(66, 0xFE);  // address 0x00FE, data all 0xFE
    payload[1] = 0x00;
    std::vector<uint8_t> stream{0x00, 0x12, 0x4D, 0xFD};
    const auto write = encodeSimFrame(0x01, payload);
    const auto read = encodeSimFrame(0x02, {0x10, 0x00});
    stream.insert(stream.end(), write.begin(), write.end());
    stream.insert(stream.end(), read.begin(), read.end());

    const auto frames = feedAll(parser, stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].command, 0x01);
    EXPECT_EQ(frames[0].payload, payload);
    EXPECT_EQ(frames[1].command, 0x02);
    EXPECT_EQ(frames[1].payload, (std::vector<uint8_t>{0x10, 0x00}));
    EXPECT_EQ(parser.rawFrame(), read);
    EXPECT_EQ(parser.droppedFrames(), 0u);
}

TEST(SimFrameParser, DropsAWrongFcsAndLooksAtTheNextByte) {
    SimFrameParser parser;
    // Handshake with a bad FCS that is itself 0xFE: the byte after it must start no frame,
    // but a start byte right after a bad FCS must.
    const std::vector<uint8_t> badThenGood{0xFE, 0x01, 0x4D, 0x04, 0x02, 0xFE,
                                           0xFE, 0x00, 0x4D, 0x03, 0x4E};
    const auto frames = feedAll(parser, badThenGood);
    EXPECT_EQ(parser.droppedFrames(), 1u);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].command, 0x03);
    EXPECT_TRUE(frames[0].payload.empty());
}

TEST(SimFrameParser, TakesAnyGroupByteIntoTheFcs) {
    SimFrameParser parser;
    // Group 0x4C instead of 0x4D: FCS 00^4C^03 = 4F.
    const auto frames = feedAll(parser, {0xFE, 0x00, 0x4C, 0x03, 0x4F});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].command, 0x03);
}

TEST(SimCrypt, IsItsOwnInverseAndKeyedByTheBlockAddress) {
    std::vector<uint8_t> plain(3 * 64, 0xFF);
    const auto crypt = SimTarget::encrypt(plain);
    ASSERT_EQ(crypt.size(), plain.size());
    EXPECT_NE(crypt, plain);
    EXPECT_EQ(SimTarget::encrypt(crypt), plain);
    // Equal plain blocks at different addresses give different crypt blocks.
    EXPECT_FALSE(std::equal(crypt.begin(), crypt.begin() + 64, crypt.begin() + 64));
    EXPECT_TRUE(SimTarget::encrypt({}).empty());
}

TEST(SimCrypt, FollowsTheDocumentedKeystream) {
    // Written out again from the description in sim_crypt.h, so the header stays true.
    const auto mix = [](uint64_t x) {
        uint64_t z = x + 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    const uint64_t key = 0x7461726E6C696E6BULL;  // "tarnlink"
    std::vector<uint8_t> plain(2 * 64);
    for (size_t o = 0; o < plain.size(); ++o) {
        plain[o] = static_cast<uint8_t>(o * 7);
    }
    const auto crypt = SimTarget::encrypt(plain);
    for (size_t o = 0; o < plain.size(); ++o) {
        const auto keyByte = static_cast<uint8_t>(mix(key ^ (o / 8)) >> (8 * (o % 8)));
        ASSERT_EQ(crypt[o], static_cast<uint8_t>(plain[o] ^ keyByte)) << "offset " << o;
    }
}

}  // namespace
}  // namespace tarnlink::sim
