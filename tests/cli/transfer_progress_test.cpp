#include "cli/transfer_progress.h"

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
    EXPECT_DOUBLE_EQ(s.bytesPerSecond, 5 * 64.0);        // 5 blocks in 1 s
    EXPECT_DOUBLE_EQ(s.secondsLeft, 15 * 64.0 / 320.0);  // 15 of 20 block moves left
    EXPECT_EQ(p.blocksDone(), 0u);                       // nothing verified yet

    p.onStatus("Verifying Data Packet 0", STATE_VERIFY, 0, 160, 3.0);
    s = p.snapshot(3.0);
    EXPECT_EQ(s.blocksDone, 0u);  // the verify phase counts from 0 again
    p.onStatus("Verifying Data Packet 7", STATE_VERIFY, 7, 160, 4.0);
    EXPECT_EQ(p.snapshot(4.0).blocksDone, 7u);
    EXPECT_EQ(p.blocksDone(), 7u);
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
    EXPECT_DOUBLE_EQ(s.bytesPerSecond, 256.0);
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
