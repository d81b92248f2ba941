#include "transfer/crypt_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

class CryptTest : public test::SimTransferTest {
  protected:
    // A target whose flash holds `blocks` written blocks.
    Bytes startSimWithFlash(size_t blocks, sim::SimOptions options = {}) {
        const Bytes plain = patternImage(blocks * 64, 5);
        if (blocks != 0) {
            options.flashIn = m_dir.write("flash-in.bin", plain);
        }
        startSim(options);
        return plain;
    }
    std::vector<uint16_t> readAddresses() const {
        std::vector<uint16_t> addresses;
        for (const auto& frame : hostFrames()) {
            if (frameCommand(frame) == 0x02)
                addresses.push_back(frameAddress(frame));
        }
        return addresses;
    }
    static Bytes firstBlocks(const Bytes& bytes, size_t blocks) {
        return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(blocks * 64));
    }
};

TEST_F(CryptTest, EndOfDataAtTheFirstReadGivesAnEmptyFile) {
    startSimWithFlash(0);
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(10000), CRYPT_UPLOADED);
    EXPECT_TRUE(std::filesystem::exists(output));
    EXPECT_TRUE(test::readFile(output).empty());
    EXPECT_EQ(m_recorder->statuses(),
              (std::vector<std::string>{"Requesting crypt...", "Reading crypto binary: 0"}));
    EXPECT_EQ(m_recorder->progress(), (std::vector<int>{0}));
    EXPECT_EQ(readAddresses(), (std::vector<uint16_t>{0}));
    const auto frames = hostFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].bytes, (Bytes{0xFE, 0x00, 0x4D, 0x20, 0x6D}));
}

TEST_F(CryptTest, ThreeBlocksThenTheEndLandInTheFileInReadOrder) {
    const Bytes plain = startSimWithFlash(3);
    const std::string output = m_dir.write("crypt.bin", Bytes(1000, 0x11));
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(10000), CRYPT_UPLOADED);
    EXPECT_EQ(readAddresses(), (std::vector<uint16_t>{0, 16, 32, 48}));
    const Bytes file = test::readFile(output);
    EXPECT_EQ(file.size(), 192u);
    EXPECT_EQ(file, sim::SimTarget::encrypt(plain));
    EXPECT_NE(file, plain) << "the target returns its encrypted copy";
    EXPECT_EQ(m_recorder->statuses(),
              (std::vector<std::string>{"Requesting crypt...", "Reading crypto binary: 0",
                                        "Reading crypto binary: 1", "Reading crypto binary: 2",
                                        "Reading crypto binary: 3"}));
    EXPECT_EQ(m_recorder->progress(), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(CryptTest, ProgressCountsFortyBlocksAPoint) {
    const Bytes plain = startSimWithFlash(81);
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(20000), CRYPT_UPLOADED);
    const auto progress = m_recorder->progress();
    ASSERT_EQ(progress.size(), 82u);
    EXPECT_EQ(progress[39], 0);
    EXPECT_EQ(progress[40], 1);
    EXPECT_EQ(progress[79], 1);
    EXPECT_EQ(progress[80], 2);
    EXPECT_EQ(test::readFile(output), sim::SimTarget::encrypt(plain));
}

TEST_F(CryptTest, DownloadThenReadBackGivesTheEncryptedImageBlocks) {
    startSim();
    const Bytes bytes = patternImage(300, 8);
    const std::string image = m_dir.write("image.bin", bytes);
    const std::string output = m_dir.file("crypt.bin");
    startDownload(image.c_str(), port().c_str(), 0);
    ASSERT_EQ(awaitResult(15000), SUCCESS);
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(15000, 2), CRYPT_UPLOADED);
    EXPECT_EQ(test::readFile(output), sim::SimTarget::encrypt(paddedImage(bytes)));
}

TEST_F(CryptTest, BlockEchoedUnderAnotherAddressIsNotWrittenAndTimesOut) {
    sim::SimOptions options;
    options.wrongAddressRead = 3;
    const Bytes plain = startSimWithFlash(5, options);
    stampSentFrames();
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_EQ(awaitResult(10000), TARGET_TIMEOUT);
    const auto reads = sentFrames(0x02);
    ASSERT_EQ(reads.size(), 3u);
    // From the third read as the host sent it: the 500 ms wait, no more.
    const auto took = m_recorder->resultTimes()[0] - reads[2].time;
    EXPECT_GE(took, 490ms);
    EXPECT_LT(took, 3000ms);
    EXPECT_EQ(readAddresses(), (std::vector<uint16_t>{0, 16, 32})) << "no repeats";
    EXPECT_EQ(test::readFile(output), firstBlocks(sim::SimTarget::encrypt(plain), 2));
}

TEST_F(CryptTest, CancelWhileAReadIsOutstandingKeepsTheAcceptedBlocks) {
    sim::SimOptions options;
    options.dropResponse = 3;  // crypt answer, block 0, then block 1's answer is lost
    const Bytes plain = startSimWithFlash(4, options);
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    ASSERT_TRUE(m_recorder->waitForStatus("Reading crypto binary: 1", 10000));
    const auto cancelled = std::chrono::steady_clock::now();
    cancelTransfer();
    ASSERT_EQ(awaitResult(5000), DOWNLOAD_CANCELED);
    EXPECT_LT(m_recorder->resultTimes()[0] - cancelled, 1500ms);
    EXPECT_EQ(test::readFile(output), firstBlocks(sim::SimTarget::encrypt(plain), 1));
}

TEST_F(CryptTest, EveryBlockAnsweredTwiceLandsInTheFileOnceRunAfterRun) {
    sim::SimOptions options;
    options.answerTwice = true;
    const Bytes plain = startSimWithFlash(6, options);
    const Bytes crypt = sim::SimTarget::encrypt(plain);
    for (size_t run = 1; run <= 10; ++run) {
        const std::string output = m_dir.file("crypt" + std::to_string(run) + ".bin");
        startCryptReadBack(output.c_str(), port().c_str());
        ASSERT_EQ(awaitResult(10000, run), CRYPT_UPLOADED) << "run " << run;
        EXPECT_EQ(test::readFile(output), crypt) << "run " << run;
    }
}

TEST_F(CryptTest, FullFileSystemIsAFailureNotAnUpload) {
    startSimWithFlash(3);
    startCryptReadBack("/dev/full", port().c_str());
    EXPECT_EQ(awaitResult(10000), GENERAL_FAILURE);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(m_recorder->results().size(), 1u);
}

TEST_F(CryptTest, EmptyReadBackIntoAFullFileSystemIsStillAnUpload) {
    // Nothing has to be written, so nothing fails.
    startSimWithFlash(0);
    startCryptReadBack("/dev/full", port().c_str());
    EXPECT_EQ(awaitResult(10000), CRYPT_UPLOADED);
}

TEST_F(CryptTest, DirectoryAsOutputIsRefusedAndThePortIsFreeAgain) {
    startSimWithFlash(1);
    startCryptReadBack(m_dir.path().c_str(), port().c_str());
    ASSERT_EQ(awaitResult(5000), IMAGE_FILE_ERROR);
    EXPECT_TRUE(hostFrames().empty());
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    EXPECT_EQ(awaitResult(10000, 2), CRYPT_UPLOADED);
    EXPECT_EQ(test::readFile(output).size(), 64u);
}

TEST_F(CryptTest, MissingPortCreatesNoFile) {
    startSimWithFlash(0);
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), m_dir.file("no-such-port").c_str());
    ASSERT_EQ(awaitResult(5000), SERIALPORT_ERROR);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(CryptTest, ReadBackDoesNotTouchTheVerifyOption) {
    startSimWithFlash(0);
    g_transfer.skipResetVector.store(1);
    startCryptReadBack(m_dir.file("crypt.bin").c_str(), port().c_str());
    ASSERT_EQ(awaitResult(10000), CRYPT_UPLOADED);
    EXPECT_EQ(g_transfer.skipResetVector.load(), 1);
}

}  // namespace
}  // namespace tarnlink
