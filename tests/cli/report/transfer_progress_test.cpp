#include "cli/report/transfer_progress.h"

#include <gtest/gtest.h>

#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

TEST(TransferProgressTest, LoadCountsWriteThenVerifyAndEstimatesTimeLeft) {
    TransferProgress p(TransferKind::LOAD);
    // 10 blocks (160 words).
    p.onStatus("Connecting to target...", STATE_CONNECT, 0xFFFF, 160, 0.0);
    EXPECT_EQ(p.snapshot(0.1).bytesPerSecond, -1);
    p.onStatus("Sending Data Packet 0", STATE_WRITE, 0, 160, 1.0);
    p.onProgress(0);
    p.onStatus("Sending Data Packet 5", STATE_WRITE, 5, 160, 2.0);
    p.onProgress(25);
    ProgressSnapshot s = p.snapshot(2.0);
    EXPECT_EQ(s.status, "Sending Data Packet 5");
    EXPECT_EQ(s.percent, 25);
    EXPECT_EQ(s.blocksDone, 5u);
    EXPECT_EQ(s.blocksTotal, 10u);
    // 5 of 20 block moves are a quarter of the 640-byte image, in 2 s since the start;
    // not the 5 blocks on the wire in the 1 s since the first block.
    EXPECT_DOUBLE_EQ(s.bytesPerSecond, 640 / 4 / 2.0);
    EXPECT_DOUBLE_EQ(s.secondsLeft, 15 * 1.0 / 5);  // 15 moves left at 5 a second
    EXPECT_EQ(p.blocksDone(), 0u);                  // nothing verified yet

    p.onStatus("Verifying Data Packet 0", STATE_VERIFY, 0, 160, 3.0);
    s = p.snapshot(3.0);
    EXPECT_EQ(s.blocksDone, 0u);  // the verify phase counts from 0 again
    p.onStatus("Verifying Data Packet 7", STATE_VERIFY, 7, 160, 4.0);
    EXPECT_EQ(p.snapshot(4.0).blocksDone, 7u);
    EXPECT_EQ(p.blocksDone(), 7u);
    p.onResult(SUCCESS);
    EXPECT_EQ(p.blocksDone(), 10u);
}

TEST(TransferProgressTest, VerifyMovesEveryBlockOnceAndWritesNone) {
    TransferProgress p(TransferKind::VERIFY);
    // 10 blocks (160 words), read back only.
    p.onStatus("Connecting to target...", STATE_CONNECT, 0xFFFF, 160, 0.0);
    EXPECT_EQ(p.snapshot(0.1).phase, "connect");
    p.onStatus("Verifying Data Packet 0", STATE_VERIFY, 0, 160, 1.0);
    p.onStatus("Verifying Data Packet 5", STATE_VERIFY, 5, 160, 2.0);
    const ProgressSnapshot s = p.snapshot(2.0);
    EXPECT_EQ(s.phase, "verify");
    EXPECT_EQ(s.blocksDone, 5u);
    EXPECT_EQ(s.blocksTotal, 10u);
    // 5 of 10 block moves are half of the 640-byte image, in 2 s; 5 moves left at 5 a second.
    EXPECT_DOUBLE_EQ(s.bytesPerSecond, 640 / 2 / 2.0);
    EXPECT_DOUBLE_EQ(s.secondsLeft, 5 * 1.0 / 5);
    p.onResult(SUCCESS);
    EXPECT_EQ(p.blocksDone(), 10u);
}

TEST(TransferProgressTest, CancelStateKeepsTheCounts) {
    TransferProgress p(TransferKind::LOAD);
    p.onStatus("Verifying Data Packet 3", STATE_VERIFY, 3, 64, 1.0);
    p.onStatus("Verifying Data Packet 3", STATE_CANCEL, 0, 64, 1.5);
    EXPECT_EQ(p.blocksDone(), 3u);
    p.onResult(DOWNLOAD_CANCELED);
    EXPECT_EQ(p.blocksDone(), 3u);
}

TEST(TransferProgressTest, CryptHasNoTotalNoPercentNoTimeLeft) {
    TransferProgress p(TransferKind::CRYPT);
    p.onStatus("Requesting crypt...", STATE_CONNECT, 0, 0, 0.0);
    p.onStatus("Reading crypto binary: 0", STATE_CRYPT, 0, 0, 1.0);
    p.onStatus("Reading crypto binary: 4", STATE_CRYPT, 4, 0, 2.0);
    p.onProgress(0);
    const ProgressSnapshot s = p.snapshot(2.0);
    EXPECT_EQ(s.percent, -1);
    EXPECT_EQ(s.blocksTotal, 0u);
    EXPECT_EQ(s.blocksDone, 4u);
    EXPECT_DOUBLE_EQ(s.bytesPerSecond, 4 * 64 / 2.0);
    EXPECT_EQ(s.secondsLeft, -1);
    p.onResult(CRYPT_UPLOADED);
    EXPECT_EQ(p.blocksDone(), 4u);
}

TEST(TransferProgressTest, LineShowsTheKnownFieldsWithinTheWidth) {
    ProgressSnapshot s;
    s.status = "Sending Data Packet 5";
    s.percent = 25;
    s.blocksDone = 5;
    s.blocksTotal = 10;
    s.bytesPerSecond = 2048;
    s.secondsLeft = 75;
    EXPECT_EQ(
        formatProgressLine(s, 200),
        "Sending Data Packet 5 [#####...............]  25%  5/10 blocks  2.0 KiB/s  1:15 left");
    EXPECT_EQ(formatProgressLine(s, 30).size(), 30u);

    ProgressSnapshot crypt;
    crypt.status = "Reading crypto binary: 2";
    crypt.blocksDone = 2;
    crypt.bytesPerSecond = 500;
    EXPECT_EQ(formatProgressLine(crypt, 200),
              "Reading crypto binary: 2 [..###...............]  2 blocks  500 B/s");

    ProgressSnapshot odd;
    odd.status = "tab\there\n";
    odd.percent = 150;
    EXPECT_EQ(formatProgressLine(odd, 0), "tab here  [####################] 100%  0 blocks");
}

}  // namespace
}  // namespace tarnlink

namespace tarnlink {
namespace {

TEST(TransferProgressTest, AFinishedLoadShowsTheImageSizeOverItsTime) {
    TransferProgress p(TransferKind::LOAD);
    p.setImageBytes(1000);  // 16 blocks, the last one short
    p.onStatus("Sending Data Packet 0", STATE_WRITE, 0, 250, 0.5);
    p.onStatus("Verifying Data Packet 15", STATE_VERIFY, 15, 250, 3.5);
    p.onResult(SUCCESS);
    EXPECT_DOUBLE_EQ(p.snapshot(4.0).bytesPerSecond, 1000 / 4.0);
}

struct StepCase {
    const char* phase;
    int percent;
    uint32_t blocks;
    bool printed;
};

TEST(PlainProgressLinesTest, PrintsPhaseChangesAndEveryTenPercent) {
    const std::vector<StepCase> steps{
        {"connect", 0, 0, true},  {"connect", 0, 0, false},  {"write", 0, 0, true},
        {"write", 9, 5, false},   {"write", 10, 6, true},    {"write", 19, 11, false},
        {"write", 35, 20, true},  {"verify", 50, 0, true},   {"verify", 59, 5, false},
        {"verify", 99, 31, true}, {"verify", 99, 32, false},
    };
    PlainProgressLines lines;
    for (const StepCase& c : steps) {
        ProgressSnapshot s;
        s.status = std::string(c.phase) + " " + std::to_string(c.blocks);
        s.phase = c.phase;
        s.percent = c.percent;
        s.blocksDone = c.blocks;
        s.bytesPerSecond = 2048;
        const std::string line = lines.lineFor(s);
        EXPECT_EQ(!line.empty(), c.printed) << c.phase << " " << c.percent;
        if (c.printed && std::string(c.phase) != "connect") {
            EXPECT_EQ(line, s.status + "  " + std::to_string(c.percent) + "%  2.0 KiB/s");
        }
    }
}

TEST(PlainProgressLinesTest, CryptHasNoPercentAndStepsEvery256Blocks) {
    PlainProgressLines lines;
    ProgressSnapshot s;
    s.phase = "request";
    s.status = "Requesting crypt...";
    EXPECT_EQ(lines.lineFor(s), "Requesting crypt...");
    s.phase = "read";
    int printed = 0;
    for (uint32_t block = 0; block < 1000; ++block) {
        s.status = "Reading crypto binary: " + std::to_string(block);
        s.blocksDone = block;
        printed += lines.lineFor(s).empty() ? 0 : 1;
    }
    EXPECT_EQ(printed, 4);  // blocks 0, 256, 512, 768
}

TEST(TransferProgressTest, BoardLineNamesThePhaseAndFitsTheWidth) {
    ProgressSnapshot s;
    s.phase = "verify";
    s.percent = 75;
    s.blocksDone = 8;
    s.blocksTotal = 16;
    s.bytesPerSecond = 3 * 1024;
    EXPECT_EQ(formatBoardProgress(s, 200),
              "verifying  [#########...]  75%  3.0 KiB/s  8/16 blocks");
    EXPECT_EQ(formatBoardProgress(s, 20).size(), 20u);
    ProgressSnapshot fresh;
    EXPECT_EQ(formatBoardProgress(fresh, 200), "starting   [###.........]  -  0 blocks");
}

}  // namespace
}  // namespace tarnlink
