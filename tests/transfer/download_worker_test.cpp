#include "transfer/download_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "link/serial_link.h"
#include "protocol/frame_receiver.h"
#include "tests/support/pty_pair.h"
#include "tests/transfer/sim_transfer_fixture.h"
#include "transfer/crypt_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using namespace std::chrono_literals;
using test::frameAddress;
using test::frameCommand;
using test::paddedImage;
using test::patternImage;
using Bytes = std::vector<uint8_t>;

class DownloadTest : public test::SimTransferTest {};

Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(DownloadTest, OneBlockOfFFExchangesExactlyTheseBytes) {
    startSim();
    stampSentFrames();
    const std::string image = m_dir.write("ff.bin", Bytes(64, 0xFF));
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(10000), SUCCESS);

    const Bytes block(64, 0xFF);
    const std::vector<std::pair<bool, Bytes>> expected = {
        {true, {0xFE, 0x01, 0x4D, 0x10, 0x00, 0x5C}},
        {true, {0xFE, 0x01, 0x4D, 0x04, 0x02, 0x4A}},
        {false, {0xFE, 0x00, 0x4D, 0x84, 0xC9}},
        {true, concat(concat({0xFE, 0x42, 0x4D, 0x01, 0x00, 0x00}, block), {0x0E})},
        {false, {0xFE, 0x01, 0x4D, 0x81, 0x00, 0xCD}},
        {true, {0xFE, 0x02, 0x4D, 0x02, 0x00, 0x00, 0x4D}},
        {false, concat(concat({0xFE, 0x43, 0x4D, 0x82, 0x00, 0x00, 0x00}, block), {0x8C})},
        {true, {0xFE, 0x00, 0x4D, 0x03, 0x4E}},
        {false, {0xFE, 0x00, 0x4D, 0x83, 0xCE}},
    };
    const auto log = m_sim->frames();
    ASSERT_EQ(log.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(log[i].fromHost, expected[i].first) << "frame " << i;
        EXPECT_EQ(log[i].bytes, expected[i].second) << "frame " << i;
    }
    // The probe goes unanswered; the handshake follows when the 50 ms wait runs out.
    const auto gaps = test::gapsMs(sentFrames());
    ASSERT_EQ(gaps.size(), 4u);
    EXPECT_GE(gaps[0], 49);
    EXPECT_LE(gaps[0], 2000);

    EXPECT_EQ(m_recorder->statuses(),
              (std::vector<std::string>{"Connecting to target...", "Connecting to target...",
                                        "Sending Data Packet 0", "Verifying Data Packet 0"}));
    EXPECT_EQ(m_recorder->progress(), (std::vector<int>{0, 50}));
    EXPECT_EQ(m_recorder->results(), (std::vector<uint8_t>{SUCCESS}));
}

TEST_F(DownloadTest, HundredWordsAreSevenBlocksWithTheirProgressAndTheFlashMatches) {
    startSim();
    const Bytes bytes = patternImage(400);
    const std::string image = m_dir.write("100words.bin", bytes);
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), SUCCESS);

    EXPECT_EQ(m_recorder->progress(),
              (std::vector<int>{0, 8, 16, 24, 32, 40, 48, 50, 58, 66, 74, 82, 90, 98}));
    EXPECT_EQ(m_sim->flash(), paddedImage(bytes));

    std::vector<uint16_t> writes;
    std::vector<uint16_t> reads;
    for (const auto& frame : hostFrames()) {
        if (frameCommand(frame) == 0x01)
            writes.push_back(frameAddress(frame));
        if (frameCommand(frame) == 0x02)
            reads.push_back(frameAddress(frame));
    }
    const std::vector<uint16_t> addresses = {0, 16, 32, 48, 64, 80, 96};
    EXPECT_EQ(writes, addresses);
    EXPECT_EQ(reads, addresses);
    const auto statuses = m_recorder->statuses();
    ASSERT_GE(statuses.size(), 14u);
    EXPECT_EQ(statuses[statuses.size() - 14], "Sending Data Packet 0");
    EXPECT_EQ(statuses[statuses.size() - 8], "Sending Data Packet 6");
    EXPECT_EQ(statuses.back(), "Verifying Data Packet 6");
}

struct FaultCase {
    const char* name;
    sim::SimOptions options;
    uint8_t result;
};

sim::SimOptions withFault(void (*set)(sim::SimOptions&)) {
    sim::SimOptions options;
    set(options);
    return options;
}

class DownloadFaultTest : public DownloadTest, public ::testing::WithParamInterface<FaultCase> {};

// A seven-block image against a target with one fault: the fault either ends the download
// with its result, or the repeats get past it and the flash ends up equal to the image.
TEST_P(DownloadFaultTest, EndsWithTheResultTheFaultCalls) {
    startSim(GetParam().options);
    const Bytes bytes = patternImage(420, 7);
    const std::string image = m_dir.write("image.bin", bytes);
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), GetParam().result)
        << transferResultName(m_recorder->results().empty() ? 255 : m_recorder->results()[0]);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_recorder->results().size(), 1u);
    if (GetParam().result == SUCCESS) {
        EXPECT_EQ(m_sim->flash(), paddedImage(bytes));
    } else {
        bool enabled = false;
        for (const auto& frame : hostFrames())
            enabled |= frameCommand(frame) == 0x03;
        EXPECT_FALSE(enabled) << "a failed download must not enable the image";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DownloadFaultTest,
    ::testing::Values(
        FaultCase{"RefusedFirstWrite", withFault([](auto& o) { o.refuseWrite = 1; }),
                  GENERAL_FAILURE},
        FaultCase{"RefusedLastWrite", withFault([](auto& o) { o.refuseWrite = 7; }),
                  GENERAL_FAILURE},
        FaultCase{"ChangedReadBackByte", withFault([](auto& o) { o.corruptBlock = 3; }),
                  VERIFY_FAILED},
        FaultCase{"RefusedRead", withFault([](auto& o) { o.failRead = 2; }), VERIFY_FAILED},
        FaultCase{"ReadAnsweredForAnotherBlock", withFault([](auto& o) { o.wrongAddressRead = 2; }),
                  SUCCESS},
        FaultCase{"ResponseWithBadFcs", withFault([](auto& o) { o.badFcsResponse = 3; }), SUCCESS},
        FaultCase{"DroppedResponse", withFault([](auto& o) { o.dropResponse = 4; }), SUCCESS},
        FaultCase{"IgnoredHandshakes", withFault([](auto& o) { o.ignoreHandshakes = 5; }), SUCCESS},
        FaultCase{"AnsweredProbe", withFault([](auto& o) { o.answerProbe = true; }), SUCCESS},
        FaultCase{"NoiseBetweenFrames", withFault([](auto& o) { o.noise = true; }), SUCCESS},
        FaultCase{"WriteAnsweredTwiceAndBlockChanged", withFault([](auto& o) {
                      o.duplicateRequest = 3;  // probe, handshake, then the first write
                      o.corruptBlock = 1;
                  }),
                  VERIFY_FAILED},
        FaultCase{"SlowTarget", withFault([](auto& o) { o.delayMs = 120; }), SUCCESS}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, RequestAnsweredTwiceGoesOnAndTheVerifyPassDecides) {
    // Every request that is answered twice leaves one acknowledgement over, which the
    // next block takes for its own; the download goes on and every block is still sent.
    sim::SimOptions options;
    options.duplicateRequest = 3;
    startSim(options);
    const Bytes bytes = patternImage(448, 3);
    const std::string image = m_dir.write("image.bin", bytes);
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), SUCCESS);
    EXPECT_EQ(m_sim->flash(), paddedImage(bytes));
    size_t reads = 0;
    for (const auto& frame : hostFrames())
        reads += frameCommand(frame) == 0x02;
    EXPECT_GE(reads, 7u) << "every block is read back";
}

struct TwiceCase {
    const char* name;
    uint32_t corruptBlock;  ///< 0: none; K: block K-1 reads back changed
    uint8_t result;
};

void PrintTo(const TwiceCase& c, std::ostream* out) {
    *out << c.name;
}

class AnsweredTwiceTest : public DownloadTest, public ::testing::WithParamInterface<TwiceCase> {};

// A line that repeats every answer, run after run: a block is verified only by its own
// answer, so a changed block fails wherever it lies and an intact image always succeeds.
// (The exact ordering that once let a repeated answer verify the next block is held open
// on purpose in transfer_seam_test.)
TEST_P(AnsweredTwiceTest, EveryRunEndsAsTheFlashDeserves) {
    sim::SimOptions options;
    options.answerTwice = true;
    options.corruptBlock = GetParam().corruptBlock;
    startSim(options);
    const Bytes bytes = patternImage(5 * 64 - 9, 4);
    const std::string image = m_dir.write("image.bin", bytes);
    constexpr size_t RUNS = 8;
    for (size_t run = 1; run <= RUNS; ++run) {
        startDownload(image.c_str(), port().c_str(), 0);
        ASSERT_EQ(awaitResult(20000, run), GetParam().result) << "run " << run;
        EXPECT_EQ(m_sim->flash(), paddedImage(bytes)) << "run " << run;
    }
    size_t enables = 0;
    for (const auto& frame : hostFrames())
        enables += frameCommand(frame) == 0x03;
    EXPECT_EQ(enables, GetParam().result == SUCCESS ? RUNS : 0u);
}

INSTANTIATE_TEST_SUITE_P(Blocks, AnsweredTwiceTest,
                         ::testing::Values(TwiceCase{"IntactImage", 0, SUCCESS},
                                           TwiceCase{"FirstBlockChanged", 1, VERIFY_FAILED},
                                           TwiceCase{"MiddleBlockChanged", 3, VERIFY_FAILED},
                                           TwiceCase{"LastBlockChanged", 5, VERIFY_FAILED}),
                         [](const auto& info) { return std::string(info.param.name); });

// A target that stores what it is sent and reads one chosen byte back changed. The
// simulated target changes a byte of its own choosing; the reset-vector option needs the
// byte offset to be exact.
class PatchingTarget {
  public:
    PatchingTarget(uint16_t address, size_t offset) : m_address(address), m_offset(offset) {
        m_thread = std::thread([this] { serve(); });
    }
    ~PatchingTarget() {
        m_stop.store(true);
        m_thread.join();
    }
    const std::string& port() const { return m_pty.slavePath(); }

  private:
    void answer(uint8_t command, const Bytes& payload) {
        Bytes frame = {0xFE, static_cast<uint8_t>(payload.size()), 0x4D, command};
        frame.insert(frame.end(), payload.begin(), payload.end());
        uint8_t fcs = 0;
        for (size_t i = 1; i < frame.size(); ++i)
            fcs ^= frame[i];
        frame.push_back(fcs);
        m_pty.write(frame);
    }
    void serve() {
        while (!m_stop.load()) {
            const Bytes sof = m_pty.read(1, 50);
            if (sof.empty() || sof[0] != 0xFE)
                continue;
            const Bytes length = m_pty.read(1, 500);
            if (length.empty())
                continue;
            const Bytes rest = m_pty.read(length[0] + 3u, 500);
            if (rest.size() != length[0] + 3u)
                continue;
            const uint8_t command = rest[1];
            const uint16_t address = rest.size() > 4 ? rest[2] | rest[3] << 8 : 0;
            if (command == 0x04) {
                answer(0x84, {});
            } else if (command == 0x01) {
                m_flash[address].assign(rest.begin() + 4, rest.begin() + 68);
                answer(0x81, {0x00});
            } else if (command == 0x02) {
                Bytes block = m_flash[address];
                block.resize(64, 0xFF);
                if (address == m_address)
                    block[m_offset] ^= 0x5A;
                Bytes payload = {0x00, static_cast<uint8_t>(address),
                                 static_cast<uint8_t>(address >> 8)};
                payload.insert(payload.end(), block.begin(), block.end());
                answer(0x82, payload);
            } else if (command == 0x03) {
                answer(0x83, {});
            }
        }
    }

    test::PtyPair m_pty;
    uint16_t m_address;
    size_t m_offset;
    std::map<uint16_t, Bytes> m_flash;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct ResetVectorCase {
    const char* name;
    uint8_t skipResetVector;
    uint16_t address;
    size_t offset;
    uint8_t result;
};

class SkipResetVectorTest : public DownloadTest,
                            public ::testing::WithParamInterface<ResetVectorCase> {};

TEST_P(SkipResetVectorTest, OnlyTheFirstThreeBytesOfBlockZeroGoUncompared) {
    const auto& param = GetParam();
    const std::string image = m_dir.write("image.bin", patternImage(200, 6));
    {
        PatchingTarget target(param.address, param.offset);
        startDownload(image.c_str(), target.port().c_str(), param.skipResetVector);
        EXPECT_EQ(awaitResult(15000), param.result);
        EXPECT_EQ(g_transfer.skipResetVector.load(), param.skipResetVector);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, SkipResetVectorTest,
    ::testing::Values(ResetVectorCase{"SkippedByte0", 1, 0, 0, SUCCESS},
                      ResetVectorCase{"SkippedByte2", 1, 0, 2, SUCCESS},
                      ResetVectorCase{"SkippedButByte3", 1, 0, 3, VERIFY_FAILED},
                      ResetVectorCase{"SkippedButBlock1Byte0", 1, 16, 0, VERIFY_FAILED},
                      ResetVectorCase{"ComparedByte0", 0, 0, 0, VERIFY_FAILED},
                      ResetVectorCase{"ComparedLastByte", 0, 48, 63, VERIFY_FAILED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, CancelDuringAWriteWaitEndsWithinTheWaitAndThePortOpensAgain) {
    sim::SimOptions options;
    options.dropResponse = 2;  // the answer to the first write
    startSim(options);
    const std::string image = m_dir.write("image.bin", patternImage(256));
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_TRUE(m_recorder->waitForStatus("Sending Data Packet 0", 5000));
    const auto cancelled = std::chrono::steady_clock::now();
    cancelTransfer();
    ASSERT_EQ(awaitResult(5000), DOWNLOAD_CANCELED);
    const auto took = m_recorder->resultTimes()[0] - cancelled;
    EXPECT_LT(took, 1500ms) << "the cancel is seen when the 500 ms wait runs out";
    EXPECT_EQ(g_transfer.link.load(), nullptr);

    startDownload(image.c_str(), port().c_str(), 0);
    EXPECT_EQ(awaitResult(15000, 2), SUCCESS);
    EXPECT_EQ(m_sim->flash(), paddedImage(patternImage(256)));
}

TEST_F(DownloadTest, CancelWhileConnectingEndsAtTheNextAttempt) {
    sim::SimOptions options;
    options.silent = true;
    startSim(options);
    const std::string image = m_dir.write("image.bin", patternImage(256));
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_TRUE(m_recorder->waitForStatus("Connecting to target...", 5000));
    const auto cancelled = std::chrono::steady_clock::now();
    cancelTransfer();
    ASSERT_EQ(awaitResult(5000), DOWNLOAD_CANCELED);
    EXPECT_LT(m_recorder->resultTimes()[0] - cancelled, 1000ms) << "one 50 ms wait, not 10 s";
    const auto frames = hostFrames();
    EXPECT_LT(frames.size(), 201u);
    for (const auto& frame : frames) {
        EXPECT_TRUE(frameCommand(frame) == 0x10 || frameCommand(frame) == 0x04);
    }
    EXPECT_TRUE(m_recorder->progress().empty());
}

TEST_F(DownloadTest, StartWhileATransferRunsIsRefusedAndTheRunningOneGoesOn) {
    sim::SimOptions options;
    options.delayMs = 60;
    startSim(options);
    const Bytes bytes = patternImage(300);
    const std::string image = m_dir.write("image.bin", bytes);
    const std::string output = m_dir.file("crypt.bin");
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_TRUE(m_recorder->waitForStatus("Connecting to target...", 5000));
    startDownload(image.c_str(), port().c_str(), 1);
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(20000, 3), SUCCESS);
    EXPECT_EQ(m_recorder->results(),
              (std::vector<uint8_t>{DOWNLOAD_IN_PROGRESS, DOWNLOAD_IN_PROGRESS, SUCCESS}));
    EXPECT_EQ(g_transfer.skipResetVector.load(), 0) << "a refused start changes nothing";
    EXPECT_EQ(m_sim->flash(), paddedImage(bytes));
    EXPECT_FALSE(std::filesystem::exists(output)) << "a refused read-back creates no file";
}

TEST_F(DownloadTest, NullPathsDoNothingAtAll) {
    startSim();
    const std::string image = m_dir.write("image.bin", patternImage(64));
    startDownload(nullptr, port().c_str(), 0);
    startDownload(image.c_str(), nullptr, 0);
    startCryptReadBack(nullptr, port().c_str());
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(m_recorder->results().empty());
    EXPECT_TRUE(m_sim->frames().empty());
    startDownload(image.c_str(), port().c_str(), 0);
    EXPECT_EQ(awaitResult(10000), SUCCESS) << "a null path leaves nothing claimed";
}

enum class BadStart { EMPTY_IMAGE, MISSING_IMAGE, DIRECTORY_IMAGE, MISSING_PORT, BUSY_PORT };

struct BadStartCase {
    const char* name;
    BadStart kind;
    uint8_t result;
};

class DownloadBadStartTest : public DownloadTest,
                             public ::testing::WithParamInterface<BadStartCase> {};

// Each failed start reports once, sends nothing, and leaves the port and the context free
// for the next start, which then succeeds.
TEST_P(DownloadBadStartTest, ReportsOnceSendsNothingAndTheNextStartSucceeds) {
    startSim();
    const std::string good = m_dir.write("good.bin", patternImage(128));
    std::string image = good;
    std::string portPath = port();
    SerialLink* holder = nullptr;
    switch (GetParam().kind) {
        case BadStart::EMPTY_IMAGE:
            image = m_dir.write("empty.bin", {});
            break;
        case BadStart::MISSING_IMAGE:
            image = m_dir.file("missing.bin");
            break;
        case BadStart::DIRECTORY_IMAGE:
            image = m_dir.path();
            break;
        case BadStart::MISSING_PORT:
            portPath = m_dir.file("no-such-port");
            break;
        case BadStart::BUSY_PORT:
            holder = serialLinkOpen(port().c_str(), frameReceiverFeed, nullptr);
            ASSERT_NE(holder, nullptr);
            break;
    }
    startDownload(image.c_str(), portPath.c_str(), 0);
    ASSERT_EQ(awaitResult(5000), GetParam().result);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_recorder->results().size(), 1u);
    EXPECT_TRUE(hostFrames().empty()) << "no frame is sent";
    EXPECT_TRUE(m_recorder->progress().empty());
    EXPECT_EQ(g_transfer.state.load(), STATE_IDLE);
    serialLinkClose(holder);

    startDownload(good.c_str(), port().c_str(), 0);
    EXPECT_EQ(awaitResult(10000, 2), SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, DownloadBadStartTest,
    ::testing::Values(BadStartCase{"EmptyImage", BadStart::EMPTY_IMAGE, BAD_IMAGE_FILE},
                      BadStartCase{"MissingImage", BadStart::MISSING_IMAGE, IMAGE_FILE_ERROR},
                      BadStartCase{"DirectoryImage", BadStart::DIRECTORY_IMAGE, IMAGE_FILE_ERROR},
                      BadStartCase{"MissingPort", BadStart::MISSING_PORT, SERIALPORT_ERROR},
                      BadStartCase{"BusyPort", BadStart::BUSY_PORT, SERIALPORT_ERROR}),
    [](const auto& info) { return std::string(info.param.name); });

// The window goes away while a transfer runs: its target is cleared and destroyed, the
// worker goes on notifying nobody, and the process ends with the worker and the port open.
void endProcessWhileAWorkerRuns(const std::string& image) {
    sim::SimOptions options;
    options.silent = true;
    static sim::SimTarget* target = new sim::SimTarget(options);
    if (!target->start())
        std::_Exit(3);
    auto window = std::make_shared<test::NotificationRecorder>();
    setNotificationTarget(window);
    startDownload(image.c_str(), target->portPath().c_str(), 0);
    if (!window->waitForStatus("Connecting to target...", 5000))
        std::_Exit(4);
    clearNotificationTarget();
    window.reset();
    std::this_thread::sleep_for(300ms);
    if (!g_transfer.worker.load())
        std::_Exit(5);
    std::exit(0);
}

TEST_F(DownloadTest, ProcessCanEndWhileAWorkerRunsAfterItsWindowIsGone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string image = m_dir.write("image.bin", patternImage(64));
    EXPECT_EXIT(endProcessWhileAWorkerRuns(image), ::testing::ExitedWithCode(0), "");
}

TEST_F(DownloadTest, CancelWithNothingRunningChangesNothing) {
    cancelTransfer();
    EXPECT_EQ(g_transfer.state.load(), STATE_IDLE);
    EXPECT_TRUE(m_recorder->results().empty());
}

}  // namespace
}  // namespace tarnlink
