#include "transfer/image_buffer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <numeric>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

std::vector<uint8_t> patterned(size_t size) {
    std::vector<uint8_t> bytes(size);
    // No 0xFF in the data, so a fill byte is never mistaken for a file byte.
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i % 251);
    }
    return bytes;
}

class ImageBufferTest : public ::testing::Test {
  protected:
    void TearDown() override {
        std::free(g_transfer.image.exchange(nullptr));
        if (std::FILE* file = g_transfer.file.exchange(nullptr)) {
            std::fclose(file);
        }
    }

    uint8_t load(const std::string& path) {
        g_transfer.file.store(std::fopen(path.c_str(), "rb"));
        EXPECT_NE(g_transfer.file.load(), nullptr) << path;
        return loadImage(g_transfer);
    }

    test::TempDir m_dir;
};

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
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (int64_t{1} << 32) + 64), 0);
    ::close(fd);

    g_transfer.file.store(std::fopen(path.c_str(), "rb"));
    ASSERT_NE(g_transfer.file.load(), nullptr);
    EXPECT_GT(imageWordCount(g_transfer.file.load()), static_cast<int32_t>(IMAGE_MAX_WORDS));
    EXPECT_EQ(loadImage(g_transfer), BAD_IMAGE_FILE);
    EXPECT_EQ(g_transfer.image.load(), nullptr);
}

TEST_F(ImageBufferTest, StreamsWithoutASizeAreBadImages) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abcdefgh", 8), 8);
    ::close(fds[1]);
    g_transfer.file.store(fdopen(fds[0], "rb"));
    EXPECT_EQ(imageWordCount(g_transfer.file.load()), 0);
    EXPECT_EQ(loadImage(g_transfer), BAD_IMAGE_FILE);
    EXPECT_EQ(g_transfer.image.load(), nullptr);
    std::fclose(g_transfer.file.exchange(nullptr));

    EXPECT_EQ(load("/dev/zero"), BAD_IMAGE_FILE);
    EXPECT_EQ(g_transfer.image.load(), nullptr);
}

TEST_F(ImageBufferTest, ReadErrorGivesBadImageNotAPaddedOne) {
    const std::string path = m_dir.write("image.bin", patterned(1000));
    g_transfer.file.store(std::fopen(path.c_str(), "rb"));
    std::FILE* file = g_transfer.file.load();
    ASSERT_NE(file, nullptr);
    // Swap a write-only descriptor in under the stream: size and seek still work, every
    // read fails, as on a disk that reports an I/O error.
    const int writeOnly = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(writeOnly, 0);
    ASSERT_GE(dup2(writeOnly, fileno(file)), 0);
    ::close(writeOnly);

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
