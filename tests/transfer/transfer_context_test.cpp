#include "transfer/transfer_context.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnlink {
namespace {

TEST(TransferResult, EveryValueMapsToItsMessageCharacterForCharacter) {
    const char* expected[] = {
        "Download completed successfully",
        "General Failure",
        "Invalid FCS",
        "Bad image file",
        "Unable to open image file",
        "A download is already in progress",
        "Timeout waiting for response from target",
        "Verification of download failed",
        "Download canceled",
        "OUT_OF_SEQUENCE",
        "SERIALPORT_ERROR",
        "Crypto uploaded successfully.",
    };
    for (unsigned value = 0; value <= 11; ++value) {
        EXPECT_STREQ(transferResultMessage(value), expected[value]) << "result " << value;
    }
    for (unsigned value : {12u, 13u, 200u, 255u, 256u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(transferResultMessage(value), "") << "result " << value;
        EXPECT_STREQ(transferResultName(value), "") << "result " << value;
    }
}

TEST(TransferResult, NamesMatchTheEnumerators) {
    EXPECT_STREQ(transferResultName(SUCCESS), "SUCCESS");
    EXPECT_STREQ(transferResultName(TARGET_TIMEOUT), "TARGET_TIMEOUT");
    EXPECT_STREQ(transferResultName(VERIFY_FAILED), "VERIFY_FAILED");
    EXPECT_STREQ(transferResultName(SERIALPORT_ERROR), "SERIALPORT_ERROR");
    EXPECT_STREQ(transferResultName(CRYPT_UPLOADED), "CRYPT_UPLOADED");
}

TEST(TransferContext, StartsIdleAndEmpty) {
    EXPECT_EQ(g_transfer.state.load(), STATE_IDLE);
    EXPECT_EQ(g_transfer.link.load(), nullptr);
    EXPECT_EQ(g_transfer.image.load(), nullptr);
    EXPECT_EQ(g_transfer.file.load(), nullptr);
    EXPECT_EQ(g_transfer.ackEvent.load(), nullptr);
    EXPECT_FALSE(g_transfer.worker.load());
    // The fields the reader thread reads while the worker writes them must never need a lock.
    EXPECT_TRUE(g_transfer.state.is_always_lock_free);
    EXPECT_TRUE(g_transfer.address.is_always_lock_free);
    EXPECT_TRUE(g_transfer.packetIndex.is_always_lock_free);
    EXPECT_TRUE(g_transfer.image.is_always_lock_free);
}

}  // namespace
}  // namespace tarnlink
