#include "transfer/image_buffer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/transfer/image_buffer_fixture.h"

namespace tarnlink {
namespace {

using test::ImageBufferTest;
using test::patterned;

struct SizeCase {
    size_t fileBytes;
    uint16_t words;
    size_t bufferBytes;
};

class ImageSizes : public ImageBufferTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ImageSizes, BufferHoldsTheFileThenFillBytesToTheBlockBoundary) {
    const SizeCase c = GetParam();
    const std::vector<uint8_t> content = patterned(c.fileBytes);
    ASSERT_EQ(load(m_dir.write("image.bin", content)), SUCCESS);

    EXPECT_EQ(g_transfer.imageWords.load(), c.words);
    const uint8_t* image = g_transfer.image.load();
    ASSERT_NE(image, nullptr);
    for (size_t i = 0; i < c.fileBytes; ++i) {
        ASSERT_EQ(image[i], content[i]) << "byte " << i;
    }
    for (size_t i = c.fileBytes; i < c.bufferBytes; ++i) {
        ASSERT_EQ(image[i], 0xFF) << "fill byte " << i;
    }
    // The file stays open for the worker to close.
    EXPECT_NE(g_transfer.file.load(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(FileSizes, ImageSizes,
                         ::testing::Values(SizeCase{1, 1, 64}, SizeCase{6, 2, 64},
                                           SizeCase{64, 16, 64}, SizeCase{65, 17, 128},
                                           SizeCase{512, 128, 512}, SizeCase{1000, 250, 1024},
                                           SizeCase{262140, 65535, 262144}),
                         [](const auto& info) { return std::to_string(info.param.fileBytes); });

TEST_F(ImageBufferTest, EmptyOrOverlongFilesAreRefusedWithoutABuffer) {
    for (size_t size : {size_t{0}, size_t{262141}, size_t{262144}, size_t{300000}}) {
        EXPECT_EQ(load(m_dir.write("image.bin", patterned(size))), BAD_IMAGE_FILE) << size;
        EXPECT_EQ(g_transfer.image.load(), nullptr) << size;
        std::fclose(g_transfer.file.exchange(nullptr));
    }
}

TEST_F(ImageBufferTest, FileOfFourGibibytesDoesNotWrapIntoASmallImage) {
    // 4 GiB + 64 bytes would be 16 words if the size were taken in 32 bits.
    const std::string path = m_dir.file("huge.bin");
    m_dir.write("huge.bin", {});
    std::filesystem::resize_file(path, (uintmax_t{1} << 32) + 64);  // sparse where it can be

    g_transfer.file.store(std::fopen(path.c_str(), "rb"));
    ASSERT_NE(g_transfer.file.load(), nullptr);
    EXPECT_GT(imageWordCount(g_transfer.file.load()), static_cast<int32_t>(IMAGE_MAX_WORDS));
    EXPECT_EQ(loadImage(g_transfer), BAD_IMAGE_FILE);
    EXPECT_EQ(g_transfer.image.load(), nullptr);
}

TEST(ImageWordCount, CountsALastPartialWordWhole) {
    EXPECT_EQ(imageWordCount(nullptr), 0);
    test::TempDir dir;
    for (auto [bytes, words] : {std::pair{1, 1}, {4, 1}, {5, 2}, {6, 2}, {8, 2}, {9, 3}}) {
        std::FILE* file = std::fopen(dir.write("f", patterned(bytes)).c_str(), "rb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(imageWordCount(file), words) << bytes << " bytes";
        std::fclose(file);
    }
}

TEST_F(ImageBufferTest, NextWriteBlockWalksTheBlocksFromThePreset) {
    ASSERT_EQ(load(m_dir.write("image.bin", patterned(200))), SUCCESS);
    const uint8_t* image = g_transfer.image.load();
    g_transfer.packetIndex.store(0xFFFF);
    g_transfer.address.store(0);

    EXPECT_EQ(nextWriteBlock(g_transfer), image);
    EXPECT_EQ(g_transfer.packetIndex.load(), 0);
    EXPECT_EQ(g_transfer.address.load(), 0);
    EXPECT_EQ(nextWriteBlock(g_transfer), image + 64);
    EXPECT_EQ(g_transfer.packetIndex.load(), 1);
    EXPECT_EQ(g_transfer.address.load(), 16);
    EXPECT_EQ(nextWriteBlock(g_transfer), image + 128);
    EXPECT_EQ(g_transfer.address.load(), 32);
}

}  // namespace
}  // namespace tarnlink
