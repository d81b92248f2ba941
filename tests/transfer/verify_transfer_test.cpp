// A verify on its own against the simulated target: the download's connect and read-back
// with its time-outs and repeats, nothing written and nothing enabled, every block read and
// every differing block counted; and a download of an image handed over in memory.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/transfer/sim_transfer_fixture.h"
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

constexpr uint8_t CMD_WRITE = 0x01;
constexpr uint8_t CMD_READ = 0x02;
constexpr uint8_t CMD_ENABLE = 0x03;
constexpr size_t BLOCKS = 40;
constexpr size_t IMAGE_BYTES = BLOCKS * 64 - 20;  // the last block padded with 0xFF

class VerifyTest : public test::SimTransferTest {
  protected:
    /// Starts the target with its flash holding `flash`.
    void startSimWithFlash(const Bytes& flash, sim::SimOptions options = {}) {
        options.flashIn = m_dir.write("flash.bin", flash);
        startSim(options);
    }
    std::vector<uint8_t> hostCommands() const {
        std::vector<uint8_t> commands;
        for (const auto& frame : hostFrames()) {
            commands.push_back(frameCommand(frame));
        }
        return commands;
    }
    /// The addresses of the read requests, in order.
    std::vector<uint16_t> readAddresses() const {
        std::vector<uint16_t> reads;
        for (const auto& frame : hostFrames()) {
            if (frameCommand(frame) == CMD_READ) {
                reads.push_back(frameAddress(frame));
            }
        }
        return reads;
    }
    void expectNothingWrittenOrEnabled() const {
        for (uint8_t command : hostCommands()) {
            EXPECT_NE(command, CMD_WRITE);
            EXPECT_NE(command, CMD_ENABLE);
        }
    }
    const VerifyTally& tally() const { return g_transfer.verifyTally; }
};

std::vector<uint16_t> everyBlockAddress(size_t blocks) {
    std::vector<uint16_t> addresses;
    for (size_t k = 0; k < blocks; ++k) {
        addresses.push_back(static_cast<uint16_t>(16 * k));
    }
    return addresses;
}

TEST_F(VerifyTest, AnIdenticalFlashPassesWithEveryBlockReadOnceAndNothingWritten) {
    const Bytes image = patternImage(IMAGE_BYTES, 3);
    startSimWithFlash(paddedImage(image));
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), SUCCESS);

    expectNothingWrittenOrEnabled();
    EXPECT_EQ(readAddresses(), everyBlockAddress(BLOCKS));
    EXPECT_EQ(tally().compared.load(), BLOCKS);
    EXPECT_EQ(tally().differing.load(), 0u);
    EXPECT_EQ(tally().firstDiffering.load(), NO_BLOCK);
    EXPECT_EQ(m_sim->flash(), paddedImage(image));
    // The read-back is the whole of a verify: 0 to 99 percent, never the load's 50 onwards.
    const std::vector<int> progress = m_recorder->progress();
    ASSERT_EQ(progress.size(), BLOCKS);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress[20], 50);
    EXPECT_EQ(progress.back(), 98);
    EXPECT_EQ(m_recorder->statuses().back(), "Verifying Data Packet 39");
}

TEST_F(VerifyTest, AChangedFlashFailsNamingTheFirstDifferingBlockAndCountingThemAll) {
    const Bytes image = patternImage(IMAGE_BYTES, 4);
    Bytes flash = paddedImage(image);
    flash[17 * 64 + 5] ^= 0x01;
    flash[20 * 64] ^= 0x80;
    flash[39 * 64 + 63] = 0x00;  // a padding byte of the last block
    startSimWithFlash(flash);
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), VERIFY_FAILED);

    expectNothingWrittenOrEnabled();
    EXPECT_EQ(readAddresses(), everyBlockAddress(BLOCKS)) << "every block is read";
    EXPECT_EQ(tally().compared.load(), BLOCKS);
    EXPECT_EQ(tally().differing.load(), 3u);
    EXPECT_EQ(tally().firstDiffering.load(), 17u);
    EXPECT_EQ(tally().firstDifferingAddress.load(), 0x0110);
    EXPECT_EQ(m_sim->flash(), flash) << "the flash is left as it was";
}

TEST_F(VerifyTest, AnErasedFlashDiffersInEveryBlock) {
    const Bytes image = patternImage(5 * 64, 5);
    startSim();
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), VERIFY_FAILED);
    EXPECT_EQ(tally().differing.load(), 5u);
    EXPECT_EQ(tally().firstDiffering.load(), 0u);
    EXPECT_EQ(tally().firstDifferingAddress.load(), 0);
    expectNothingWrittenOrEnabled();
}

struct SkipCase {
    const char* name;
    uint8_t skipResetVector;
    size_t changedByte;
    uint8_t result;
};

class VerifySkipResetVectorTest : public VerifyTest,
                                  public ::testing::WithParamInterface<SkipCase> {};

TEST_P(VerifySkipResetVectorTest, LeavesTheFirstThreeBytesOfBlockZeroAsForALoad) {
    const Bytes image = patternImage(256, 6);
    Bytes flash = paddedImage(image);
    flash[GetParam().changedByte] ^= 0xFF;
    startSimWithFlash(flash);
    startVerify(image.data(), image.size(), port().c_str(), GetParam().skipResetVector);
    ASSERT_EQ(awaitResult(15000), GetParam().result);
    EXPECT_EQ(tally().compared.load(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Bytes, VerifySkipResetVectorTest,
                         ::testing::Values(SkipCase{"SkippedByte2", 1, 2, SUCCESS},
                                           SkipCase{"SkippedButByte3", 1, 3, VERIFY_FAILED},
                                           SkipCase{"SkippedButBlock1Byte0", 1, 64, VERIFY_FAILED},
                                           SkipCase{"ComparedByte0", 0, 0, VERIFY_FAILED}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LineFault {
    const char* name;
    void (*set)(sim::SimOptions&);
};

class VerifyLineFaultTest : public VerifyTest, public ::testing::WithParamInterface<LineFault> {};

// Lost, repeated and garbled answers are repeated past, and each block counts once: a
// block answered twice is not counted twice, and its second answer does not stand in for
// the next block's.
TEST_P(VerifyLineFaultTest, EachBlockIsCountedOnce) {
    const Bytes image = patternImage(8 * 64, 7);
    Bytes flash = paddedImage(image);
    flash[3 * 64 + 9] ^= 0x10;
    sim::SimOptions options;
    GetParam().set(options);
    startSimWithFlash(flash, options);
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(20000), VERIFY_FAILED);
    EXPECT_EQ(tally().compared.load(), 8u);
    EXPECT_EQ(tally().differing.load(), 1u);
    EXPECT_EQ(tally().firstDiffering.load(), 3u);
    expectNothingWrittenOrEnabled();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VerifyLineFaultTest,
    ::testing::Values(LineFault{"AnswerTwice", [](sim::SimOptions& o) { o.answerTwice = true; }},
                      LineFault{"DroppedAnswer", [](sim::SimOptions& o) { o.dropResponse = 4; }},
                      LineFault{"BadFcs", [](sim::SimOptions& o) { o.badFcsResponse = 5; }},
                      LineFault{"WrongAddress", [](sim::SimOptions& o) { o.wrongAddressRead = 3; }},
                      LineFault{"Echo", [](sim::SimOptions& o) { o.echo = true; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VerifyTest, ARefusedReadEndsTheVerifyAsItEndsALoad) {
    const Bytes image = patternImage(6 * 64, 8);
    sim::SimOptions options;
    options.failRead = 3;
    startSimWithFlash(paddedImage(image), options);
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), VERIFY_FAILED);
    EXPECT_EQ(tally().compared.load(), 2u) << "the tally says how far it got";
    EXPECT_EQ(tally().differing.load(), 0u);
    EXPECT_EQ(readAddresses(), everyBlockAddress(3));
}

TEST_F(VerifyTest, ASilentReadIsSentSixTimesThenTimesOut) {
    const Bytes image = patternImage(2 * 64, 9);
    sim::SimOptions options;
    options.muteCommand = CMD_READ;
    startSimWithFlash(paddedImage(image), options);
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), TARGET_TIMEOUT);
    EXPECT_EQ(readAddresses(), std::vector<uint16_t>(6, 0));
    EXPECT_EQ(g_transfer.repeats.load(), 5u);
    expectNothingWrittenOrEnabled();
}

TEST_F(VerifyTest, ACancelEndsItAndALoadAfterItWritesAndEnablesAgain) {
    const Bytes image = patternImage(4 * 64, 10);
    sim::SimOptions options;
    options.dropResponse = 2;  // the answer to the first read
    startSim(options);
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_TRUE(m_recorder->waitForStatus("Verifying Data Packet 0", 5000));
    cancelTransfer();
    ASSERT_EQ(awaitResult(5000), DOWNLOAD_CANCELED);

    // The verify's mode does not stay behind: the next download writes and enables.
    startDownloadImage(image.data(), image.size(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000, 2), SUCCESS);
    EXPECT_EQ(m_sim->flash(), paddedImage(image));
    const std::vector<uint8_t> commands = hostCommands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), CMD_WRITE), commands.end());
    EXPECT_EQ(commands.back(), CMD_ENABLE);
}

// The port goes away while the last block's read is awaited: the wait ends at once, and
// what ends the verify is the lost port, not a verdict over the blocks read so far.
TEST_F(VerifyTest, APortLostWhileTheLastBlockIsAwaitedIsNoVerdict) {
    const Bytes image = patternImage(64, 14);
    sim::SimOptions options;
    options.muteCommand = CMD_READ;
    startSimWithFlash(paddedImage(image), options);
    startVerify(image.data(), image.size(), port().c_str(), 0);
    ASSERT_TRUE(m_recorder->waitForStatus("Verifying Data Packet 0", 5000));
    m_sim->stop();  // closes the master: the port hangs up as an unplugged adapter's does
    ASSERT_EQ(awaitResult(5000), SERIALPORT_ERROR);
    EXPECT_TRUE(g_transfer.portLost.load());
    EXPECT_EQ(tally().compared.load(), 0u);
}

using DownloadImageTest = VerifyTest;

TEST_F(DownloadImageTest, AnImageInMemoryIsCopiedAtTheStartAndFlashedAsAFileWouldBe) {
    startSim();
    const Bytes original = patternImage(400, 11);
    Bytes image = original;
    startDownloadImage(image.data(), image.size(), port().c_str(), 0);
    // The caller's bytes are its own again once the start has returned.
    std::fill(image.begin(), image.end(), 0);
    image.clear();
    image.shrink_to_fit();
    ASSERT_EQ(awaitResult(15000), SUCCESS);
    EXPECT_EQ(m_sim->flash(), paddedImage(original));
    EXPECT_EQ(m_recorder->progress(),
              (std::vector<int>{0, 8, 16, 24, 32, 40, 48, 50, 58, 66, 74, 82, 90, 98}));
}

struct BadImageCase {
    const char* name;
    size_t size;
    bool goodPort;
    uint8_t result;
};

class DownloadBadImageTest : public VerifyTest,
                             public ::testing::WithParamInterface<BadImageCase> {};

// The limits of an image file, for an image in memory: reported once, nothing sent, the
// port free again; a port that cannot be opened is reported before the image is looked at.
TEST_P(DownloadBadImageTest, IsRefusedAsAFileWouldBeAndTheNextStartSucceeds) {
    startSim();
    // One byte more than the image, so that even an empty image has an address.
    const Bytes storage(GetParam().size + 1, 0x5A);
    const std::string portPath = GetParam().goodPort ? port() : m_dir.file("no-such-port");
    startDownloadImage(storage.data(), GetParam().size, portPath.c_str(), 0);
    ASSERT_EQ(awaitResult(5000), GetParam().result);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_recorder->results().size(), 1u);
    EXPECT_TRUE(hostFrames().empty());

    const Bytes good = patternImage(64, 12);
    startVerify(good.data(), good.size(), port().c_str(), 0);
    EXPECT_EQ(awaitResult(10000, 2), VERIFY_FAILED) << "the erased flash differs";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadBadImageTest,
    ::testing::Values(BadImageCase{"Empty", 0, true, BAD_IMAGE_FILE},
                      BadImageCase{"OneByteTooMany", 262141, true, BAD_IMAGE_FILE},
                      BadImageCase{"PortBeforeImage", 0, false, SERIALPORT_ERROR}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadImageTest, NoImageAndNoPathDoNothingAtAll) {
    startSim();
    const Bytes image = patternImage(64, 13);
    startDownloadImage(nullptr, 64, port().c_str(), 0);
    startVerify(image.data(), image.size(), nullptr, 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(m_recorder->results().empty());
    EXPECT_TRUE(m_sim->frames().empty());
}

}  // namespace
}  // namespace tarnlink
