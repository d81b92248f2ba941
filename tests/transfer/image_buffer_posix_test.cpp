// Image streams that only POSIX can make: a pipe, a character device, a descriptor that
// fails every read.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/transfer/image_buffer_fixture.h"
#include "transfer/image_buffer.h"

namespace tarnlink {
namespace {

using test::ImageBufferTest;
using test::patterned;

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

}  // namespace
}  // namespace tarnlink
