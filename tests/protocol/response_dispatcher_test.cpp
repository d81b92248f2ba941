#include "protocol/response_dispatcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/auto_reset_event.h"
#include "tests/support/temp_dir.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;

// The image of the fixture: two blocks, every byte different from its neighbours.
constexpr uint16_t kImageWords = 2 * BLOCK_WORDS;
constexpr uint8_t kUntouched = TARGET_TIMEOUT;  // never written by the dispatcher

uint8_t imageByte(size_t offset) {
    return static_cast<uint8_t>(offset * 7 + 3);
}

struct Row {
    std::string name;
    uint8_t state;
    uint8_t command;
    uint8_t status = 0;
    uint16_t blockAddress = 0;  // in the response
    uint16_t address = 0;       // in flight
    uint16_t packetIndex = 0;   // in flight
    bool skipResetVector = false;
    bool withImage = true;
    int differAt = -1;  // data byte that differs from image block packetIndex
    // Expected:
    bool signalled = false;
    uint8_t endState = 0xFF;  // 0xFF: unchanged
    uint8_t result = kUntouched;
    bool blockWritten = false;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

class Dispatcher : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override {
        for (size_t i = 0; i < sizeof m_image; ++i) {
            m_image[i] = imageByte(i);
        }
        // Not std::tmpfile(): under Wine, msvcrt's returned NULL now and then with many test
        // processes running at once.
        m_file = std::fopen(m_dir.file("crypt.bin").c_str(), "w+b");
        ASSERT_NE(m_file, nullptr);
        g_transfer.ackEvent = &m_ack;
        g_transfer.file = m_file;
        g_transfer.image = m_image;
        g_transfer.imageWords = kImageWords;
        g_transfer.result = kUntouched;
    }
    void TearDown() override {
        g_transfer.ackEvent = nullptr;
        g_transfer.file = nullptr;
        g_transfer.image = nullptr;
        std::fclose(m_file);
    }

    Bytes fileContent() {
        std::fflush(m_file);
        Bytes content(1024);
        std::rewind(m_file);
        content.resize(std::fread(content.data(), 1, content.size(), m_file));
        return content;
    }

    test::TempDir m_dir;
    AutoResetEvent m_ack;
    std::FILE* m_file = nullptr;
    uint8_t m_image[2 * BLOCK_BYTES];
};

// status, block address, then the 64 bytes of block `dataBlock` of the image.
Bytes readPayload(const Row& r) {
    Bytes p(128, 0);
    p[0] = r.status;
    p[1] = static_cast<uint8_t>(r.blockAddress & 0xFF);
    p[2] = static_cast<uint8_t>(r.blockAddress >> 8);
    const size_t dataBlock = r.packetIndex < 2 ? r.packetIndex : 0;
    for (size_t i = 0; i < BLOCK_BYTES; ++i) {
        p[3 + i] = imageByte(dataBlock * BLOCK_BYTES + i);
    }
    if (r.differAt >= 0) {
        p[3 + r.differAt] ^= 0x40;
    }
    return p;
}

TEST_P(Dispatcher, ActsOnTheResponseAsTheStateSays) {
    const Row& r = GetParam();
    g_transfer.state = r.state;
    g_transfer.address = r.address;
    g_transfer.packetIndex = r.packetIndex;
    g_transfer.skipResetVector = r.skipResetVector ? 1 : 0;
    if (!r.withImage) {
        g_transfer.image = nullptr;
    }
    // The worker waits for an answer of this kind, to the request at `address`.
    const uint8_t kind = r.command & 0x7F;
    expectAnswer(g_transfer, kind, kind == 0x02 ? r.address : 0);
    const Bytes payload = readPayload(r);

    handleResponse(r.command, payload.data());

    EXPECT_EQ(m_ack.wait(0) == AutoResetEvent::WaitResult::SIGNALLED, r.signalled);
    EXPECT_EQ(g_transfer.state, r.endState == 0xFF ? r.state : r.endState);
    EXPECT_EQ(g_transfer.result, r.result);
    const Bytes expectedFile =
        r.blockWritten ? Bytes(payload.begin() + 3, payload.begin() + 3 + BLOCK_BYTES) : Bytes{};
    EXPECT_EQ(fileContent(), expectedFile);
}

std::vector<Row> tableRows() {
    std::vector<Row> rows = {
        {.name = "HandshakeInConnectSignals",
         .state = STATE_CONNECT,
         .command = 0x84,
         .status = 0x37,
         .signalled = true},
        {.name = "WriteOkSignalsWhateverAddress",
         .state = STATE_WRITE,
         .command = 0x81,
         .blockAddress = 0x4321,
         .address = 0x10,
         .signalled = true},
        {.name = "WriteRefused",
         .state = STATE_WRITE,
         .command = 0x81,
         .status = 1,
         .endState = STATE_IDLE,
         .result = GENERAL_FAILURE},
        {.name = "VerifyMatchSignals",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 16,
         .address = 16,
         .packetIndex = 1,
         .signalled = true},
        {.name = "VerifyLastByteDiffers",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 16,
         .address = 16,
         .packetIndex = 1,
         .differAt = 63,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        {.name = "VerifyOtherAddressIgnored",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 0,
         .address = 16,
         .packetIndex = 1},
        {.name = "VerifyOtherAddressDifferentDataIgnored",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 0,
         .address = 16,
         .packetIndex = 1,
         .differAt = 0},
        {.name = "VerifyStatusOneUnderOtherAddressFails",
         .state = STATE_VERIFY,
         .command = 0x82,
         .status = 1,
         .blockAddress = 0,
         .address = 16,
         .packetIndex = 1,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        {.name = "VerifyStatusOneMatchingFails",
         .state = STATE_VERIFY,
         .command = 0x82,
         .status = 1,
         .blockAddress = 16,
         .address = 16,
         .packetIndex = 1,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        {.name = "SkipResetVectorAtZeroIgnoresByte0",
         .state = STATE_VERIFY,
         .command = 0x82,
         .skipResetVector = true,
         .differAt = 0,
         .signalled = true},
        {.name = "SkipResetVectorAtZeroIgnoresByte2",
         .state = STATE_VERIFY,
         .command = 0x82,
         .skipResetVector = true,
         .differAt = 2,
         .signalled = true},
        {.name = "SkipResetVectorAtZeroComparesByte3",
         .state = STATE_VERIFY,
         .command = 0x82,
         .skipResetVector = true,
         .differAt = 3,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        {.name = "NoSkipAtZeroComparesByte0",
         .state = STATE_VERIFY,
         .command = 0x82,
         .differAt = 0,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        {.name = "SkipResetVectorElsewhereComparesByte0",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 16,
         .address = 16,
         .packetIndex = 1,
         .skipResetVector = true,
         .differAt = 0,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        // No block 2 in a two-block image: refused without a look at memory past its end.
        {.name = "VerifyBlockPastImageIgnored",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 32,
         .address = 32,
         .packetIndex = 2},
        {.name = "VerifyHighestPacketIndexIgnored",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 0xFFF0,
         .address = 0xFFF0,
         .packetIndex = 0xFFFF},
        {.name = "VerifyWithoutImageIgnored",
         .state = STATE_VERIFY,
         .command = 0x82,
         .withImage = false},
        {.name = "VerifyPastImageWithStatusOneFails",
         .state = STATE_VERIFY,
         .command = 0x82,
         .status = 1,
         .blockAddress = 32,
         .address = 32,
         .packetIndex = 2,
         .endState = STATE_IDLE,
         .result = VERIFY_FAILED},
        {.name = "CryptBlockAppendedAndSignalled",
         .state = STATE_CRYPT,
         .command = 0x82,
         .blockAddress = 0x20,
         .address = 0x20,
         .signalled = true,
         .blockWritten = true},
        {.name = "CryptBlockOtherAddressIgnored",
         .state = STATE_CRYPT,
         .command = 0x82,
         .blockAddress = 0x10,
         .address = 0x20},
        {.name = "CryptEndForAnotherAddressIgnored",
         .state = STATE_CRYPT,
         .command = 0x82,
         .status = 1,
         .blockAddress = 0x10,
         .address = 0x20},
        {.name = "CryptReadRefusedEndsTheData",
         .state = STATE_CRYPT,
         .command = 0x82,
         .status = 2,
         .blockAddress = 0x20,
         .address = 0x20,
         .signalled = true,
         .endState = STATE_IDLE,
         .result = CRYPT_UPLOADED},
        {.name = "EnableSetsSuccessKeepsState",
         .state = STATE_ENABLE,
         .command = 0x83,
         .status = 9,
         .signalled = true,
         .result = SUCCESS},
        {.name = "CryptAcceptedSignals", .state = STATE_CRYPT, .command = 0xA0, .signalled = true},
        {.name = "CryptRefused",
         .state = STATE_CRYPT,
         .command = 0xA0,
         .status = 1,
         .endState = STATE_IDLE,
         .result = GENERAL_FAILURE},
        // Responses outside the state that expects them.
        {.name = "HandshakeInWriteIgnored", .state = STATE_WRITE, .command = 0x84},
        {.name = "WriteInVerifyIgnored", .state = STATE_VERIFY, .command = 0x81, .status = 1},
        {.name = "ReadInWriteIgnored", .state = STATE_WRITE, .command = 0x82, .status = 1},
        {.name = "EnableInVerifyIgnored", .state = STATE_VERIFY, .command = 0x83},
        {.name = "CryptInConnectIgnored", .state = STATE_CONNECT, .command = 0xA0, .status = 1},
        {.name = "WriteInCryptIgnored", .state = STATE_CRYPT, .command = 0x81, .status = 1},
    };
    const char* stateNames[] = {"Idle",   "Connect", "Write", "VerifyStart",
                                "Verify", "Enable",  "Crypt", "Cancel"};
    // Not responses (bit 7 clear), the probe response and unknown codes: ignored in every state.
    for (uint8_t state = STATE_IDLE; state <= STATE_CANCEL; ++state) {
        for (uint8_t command : {0x01, 0x02, 0x03, 0x04, 0x10, 0x20, 0x90, 0x85, 0xFF}) {
            char name[64];
            std::snprintf(name, sizeof name, "Code%02XIn%sIgnored", command, stateNames[state]);
            rows.push_back({.name = name, .state = state, .command = command, .status = 1});
        }
    }
    // Idle, between write and verify, and cancelled: every response is ignored.
    for (uint8_t state : {STATE_IDLE, STATE_VERIFY_START, STATE_CANCEL}) {
        for (uint8_t command : {0x81, 0x82, 0x83, 0x84, 0xA0}) {
            for (uint8_t status : {0, 1}) {
                char name[64];
                std::snprintf(name, sizeof name, "Code%02XStatus%dIn%sIgnored", command, status,
                              stateNames[state]);
                rows.push_back(
                    {.name = name, .state = state, .command = command, .status = status});
            }
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Table, Dispatcher, ::testing::ValuesIn(tableRows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

// Every answer that acknowledges, each in the state that expects it: the same answer twice
// (a line or an adapter that repeats frames) is accepted the first time only, and an answer
// that comes when the worker waits for none is not accepted at all.
std::vector<Row> acceptedRows() {
    return {
        {.name = "Handshake", .state = STATE_CONNECT, .command = 0x84},
        {.name = "Write", .state = STATE_WRITE, .command = 0x81, .blockAddress = 0x20},
        {.name = "VerifiedRead",
         .state = STATE_VERIFY,
         .command = 0x82,
         .blockAddress = 16,
         .address = 16,
         .packetIndex = 1},
        {.name = "Enable", .state = STATE_ENABLE, .command = 0x83, .result = SUCCESS},
        {.name = "CryptRequest", .state = STATE_CRYPT, .command = 0xA0},
        {.name = "CryptBlock",
         .state = STATE_CRYPT,
         .command = 0x82,
         .blockAddress = 0x30,
         .address = 0x30,
         .blockWritten = true},
    };
}

class DispatcherOnce : public Dispatcher {};

TEST_P(DispatcherOnce, SecondAnswerToTheSameRequestIsIgnored) {
    const Row& r = GetParam();
    g_transfer.state = r.state;
    g_transfer.address = r.address;
    g_transfer.packetIndex = r.packetIndex;
    const uint8_t kind = r.command & 0x7F;
    expectAnswer(g_transfer, kind, kind == 0x02 ? r.address : 0);
    const Bytes payload = readPayload(r);

    handleResponse(r.command, payload.data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::SIGNALLED);
    EXPECT_TRUE(awaitedAnswerTaken(g_transfer));
    g_transfer.result = kUntouched;
    handleResponse(r.command, payload.data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT) << "signalled twice";
    EXPECT_EQ(g_transfer.state, r.state);
    EXPECT_EQ(g_transfer.result, kUntouched);
    const Bytes once =
        r.blockWritten ? Bytes(payload.begin() + 3, payload.begin() + 3 + BLOCK_BYTES) : Bytes{};
    EXPECT_EQ(fileContent(), once) << "a block appended twice";
}

TEST_F(Dispatcher, EndOfCryptDataCountsOnlyAsTheAnswerToTheReadInFlight) {
    // A read-back that has just sent its crypt request: an end marker still on the line from
    // the last read-back must not end this one as uploaded, with nothing read.
    g_transfer.state = STATE_CRYPT;
    expectAnswer(g_transfer, 0x20);
    Row end{.name = "end", .state = STATE_CRYPT, .command = 0x82, .status = 1};
    handleResponse(0x82, readPayload(end).data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    EXPECT_EQ(g_transfer.state, STATE_CRYPT);
    EXPECT_EQ(g_transfer.result, kUntouched);
    // Once the read of address 0 is in flight, its refusal is the end.
    expectAnswer(g_transfer, 0x02, 0);
    handleResponse(0x82, readPayload(end).data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::SIGNALLED);
    EXPECT_EQ(g_transfer.state, STATE_IDLE);
    EXPECT_EQ(g_transfer.result, CRYPT_UPLOADED);
    EXPECT_TRUE(fileContent().empty());
}

TEST_P(DispatcherOnce, AnswerWhileNoRequestIsInFlightIsIgnored) {
    const Row& r = GetParam();
    g_transfer.state = r.state;
    g_transfer.address = r.address;
    g_transfer.packetIndex = r.packetIndex;
    g_transfer.awaitedAnswer = 0;
    const Bytes payload = readPayload(r);

    handleResponse(r.command, payload.data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    EXPECT_EQ(g_transfer.state, r.state);
    EXPECT_EQ(g_transfer.result, kUntouched);
    EXPECT_TRUE(fileContent().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, DispatcherOnce, ::testing::ValuesIn(acceptedRows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

TEST_F(Dispatcher, ReadAnswerForTheBlockBeforeIsIgnoredOnceTheNextIsArmed) {
    // The worker has moved on to block 1: a late answer for block 0, even one that would
    // compare equal, acknowledges nothing, and block 1's own answer still counts.
    g_transfer.state = STATE_VERIFY;
    g_transfer.packetIndex = 1;
    g_transfer.address = 16;
    expectAnswer(g_transfer, 0x02, 16);
    const Row late{.name = "late", .state = STATE_VERIFY, .command = 0x82, .packetIndex = 0};
    handleResponse(0x82, readPayload(late).data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    EXPECT_FALSE(awaitedAnswerTaken(g_transfer));
    const Row own{.name = "own",
                  .state = STATE_VERIFY,
                  .command = 0x82,
                  .blockAddress = 16,
                  .packetIndex = 1};
    handleResponse(0x82, readPayload(own).data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::SIGNALLED);
    EXPECT_EQ(g_transfer.state, STATE_VERIFY);
}

class CryptFile : public ::testing::Test {
  protected:
    void SetUp() override {
        g_transfer.ackEvent = &m_ack;
        g_transfer.state = STATE_CRYPT;
        g_transfer.result = kUntouched;
    }
    void TearDown() override {
        g_transfer.ackEvent = nullptr;
        g_transfer.file = nullptr;
    }
    static Bytes block(uint16_t address, uint8_t fill) {
        Bytes p(128, 0xEE);  // bytes past the block must not reach the file
        p[0] = 0;
        p[1] = static_cast<uint8_t>(address & 0xFF);
        p[2] = static_cast<uint8_t>(address >> 8);
        std::fill(p.begin() + 3, p.begin() + 3 + BLOCK_BYTES, fill);
        return p;
    }
    AutoResetEvent m_ack;
};

TEST_F(CryptFile, BlocksLandInAcknowledgedOrderWithNothingBetween) {
    const test::TempDir dir;
    std::FILE* f = std::fopen(dir.file("crypt.bin").c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    g_transfer.file = f;
    for (uint16_t k = 0; k < 3; ++k) {
        g_transfer.address = static_cast<uint16_t>(k * BLOCK_WORDS);
        expectAnswer(g_transfer, 0x02, g_transfer.address);
        handleResponse(0x82, block(g_transfer.address, static_cast<uint8_t>(0xA0 + k)).data());
        EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::SIGNALLED);
    }
    // Flushed per block: the bytes are in the file before anyone else flushes it.
    const long size = std::ftell(f);
    EXPECT_EQ(size, 3 * 64);
    Bytes content(256);
    std::rewind(f);
    content.resize(std::fread(content.data(), 1, content.size(), f));
    Bytes expected;
    for (uint8_t k = 0; k < 3; ++k) {
        expected.insert(expected.end(), BLOCK_BYTES, static_cast<uint8_t>(0xA0 + k));
    }
    EXPECT_EQ(content, expected);
    EXPECT_EQ(g_transfer.state, STATE_CRYPT);
    EXPECT_EQ(g_transfer.result, kUntouched);
    std::fclose(f);
}

TEST_F(CryptFile, FailedWriteEndsTheReadBackWithoutSignal) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    g_transfer.file = full;
    g_transfer.address = 0;
    expectAnswer(g_transfer, 0x02, 0);
    handleResponse(0x82, block(0, 0x11).data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    EXPECT_EQ(g_transfer.state, STATE_IDLE);
    EXPECT_EQ(g_transfer.result, GENERAL_FAILURE);
    g_transfer.file = nullptr;
    std::fclose(full);
}

TEST_F(CryptFile, NoOutputFileEndsTheReadBackWithoutSignal) {
    g_transfer.file = nullptr;
    g_transfer.address = 0;
    expectAnswer(g_transfer, 0x02, 0);
    handleResponse(0x82, block(0, 0x11).data());
    EXPECT_EQ(m_ack.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    EXPECT_EQ(g_transfer.state, STATE_IDLE);
    EXPECT_EQ(g_transfer.result, GENERAL_FAILURE);
}

TEST(DispatcherWithoutEvent, AcceptedResponseBeforeTheEventExistsIsHarmless) {
    g_transfer.ackEvent = nullptr;
    g_transfer.state = STATE_ENABLE;
    g_transfer.result = kUntouched;
    const uint8_t payload[128] = {};
    expectAnswer(g_transfer, 0x03);
    handleResponse(0x83, payload);
    EXPECT_EQ(g_transfer.result, SUCCESS);
    g_transfer.state = STATE_CONNECT;
    expectAnswer(g_transfer, 0x04);
    handleResponse(0x84, payload);
    EXPECT_EQ(g_transfer.state, STATE_CONNECT);
}

TEST(VerifyBlock, ImageOffsetComesFromPacketIndexNotAddress) {
    uint8_t image[2 * BLOCK_BYTES];
    for (size_t i = 0; i < sizeof image; ++i) {
        image[i] = imageByte(i);
    }
    g_transfer.image = image;
    g_transfer.imageWords = 17;  // a partial second block still counts as a block
    g_transfer.skipResetVector = 0;
    g_transfer.address = 0;
    g_transfer.packetIndex = 1;
    expectAnswer(g_transfer, 0x02, 0);
    EXPECT_EQ(verifyBlock(0, image + BLOCK_BYTES), SUCCESS);
    EXPECT_EQ(verifyBlock(0, image), GENERAL_FAILURE);
    EXPECT_EQ(verifyBlock(16, image + BLOCK_BYTES), OUT_OF_SEQUENCE);
    g_transfer.imageWords = 16;  // now block 1 is past the end
    EXPECT_EQ(verifyBlock(0, image + BLOCK_BYTES), OUT_OF_SEQUENCE);
    g_transfer.image = nullptr;
}

}  // namespace
}  // namespace tarnlink
