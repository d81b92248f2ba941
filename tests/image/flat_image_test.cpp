// The flat image beyond what the parsers' tables cover: its limit agrees with the engine's,
// and bytes placed into it later (a board's own serial number) grow it with erased flash.
#include "image/flat_image.h"

#include <gtest/gtest.h>

#include "tests/image/image_case.h"
#include "transfer/transfer_context.h"

namespace tarnlink::test {
namespace {

TEST(FlatImage, TheLargestImageIsTheEnginesLargestImage) {
    EXPECT_EQ(FLAT_IMAGE_MAX_BYTES, size_t{IMAGE_MAX_WORDS} * 4);
}

TEST(FlatImage, BytesPlacedInsideOverwriteAndPastTheEndGrowWithErasedFlash) {
    FlatImage image{{1, 2, 3, 4}, 0x08000000};
    const Bytes two = {0xAB, 0xCD};
    EXPECT_EQ(placeBytes(image, 1, two.data(), two.size()), "");
    EXPECT_EQ(image.bytes, (Bytes{1, 0xAB, 0xCD, 4}));
    EXPECT_EQ(placeBytes(image, 8, two.data(), two.size()), "");
    EXPECT_EQ(image.bytes, (Bytes{1, 0xAB, 0xCD, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xAB, 0xCD}));
    EXPECT_EQ(image.base, 0x08000000u);
}

TEST(FlatImage, BytesPlacedEndAtTheLargestImageAtMost) {
    FlatImage image{{1}, 0x100};
    const Bytes four = {1, 2, 3, 4};
    EXPECT_EQ(placeBytes(image, FLAT_IMAGE_MAX_BYTES - 4, four.data(), four.size()), "");
    EXPECT_EQ(image.bytes.size(), FLAT_IMAGE_MAX_BYTES);
    EXPECT_EQ(placeBytes(image, FLAT_IMAGE_MAX_BYTES - 3, four.data(), four.size()),
              "bytes at offset 0x0003FFF9 (address 0x000400F9) would end past the largest image "
              "(262,140 bytes)");
    EXPECT_NE(placeBytes(image, UINT64_MAX - 1, four.data(), four.size()), "");
    EXPECT_EQ(image.bytes.size(), FLAT_IMAGE_MAX_BYTES);
}

TEST(FlatImage, NumbersAreWrittenTheWayTheMessagesShowThem) {
    EXPECT_EQ(hexAddress(0), "0x00000000");
    EXPECT_EQ(hexAddress(0x8000000), "0x08000000");
    EXPECT_EQ(hexAddress(0x123456789A), "0x123456789A");
    EXPECT_EQ(groupedNumber(0), "0");
    EXPECT_EQ(groupedNumber(999), "999");
    EXPECT_EQ(groupedNumber(262140), "262,140");
    EXPECT_EQ(groupedNumber(16777216), "16,777,216");
}

}  // namespace
}  // namespace tarnlink::test
