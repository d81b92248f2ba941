// Reading an image from the special files a user may name: endless devices, a FIFO with a
// writer and a pipe on the standard input. Every case ends, and quickly.
#include "image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/image/image_case.h"
#include "tests/support/temp_dir.h"

namespace tarnlink::test {
namespace {

using Clock = std::chrono::steady_clock;

// Writes `bytes` to `fd` and closes it, on a thread of its own.
std::thread writerThread(int fd, Bytes bytes) {
    return std::thread([fd, bytes = std::move(bytes)] {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    });
}

class ImageFileTest : public ::testing::Test {
  protected:
    TempDir m_dir;
};

struct EndlessCase {
    const char* name;
    ImageFormat format;
    const char* error;
};

class EndlessSourceTest : public ::testing::TestWithParam<EndlessCase> {};

// /dev/zero never ends: the read stops one byte past the limit of the format, at once.
TEST_P(EndlessSourceTest, EndsAtOnceAsTooLarge) {
    const auto start = Clock::now();
    const LoadedImage image = loadImageFile("/dev/zero", {GetParam().format, {}});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(image.failure, ImageFailure::BAD_CONTENT);
    EXPECT_EQ(image.error, GetParam().error);
    EXPECT_TRUE(image.source.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EndlessSourceTest,
    ::testing::Values(
        EndlessCase{"Auto", ImageFormat::AUTO,
                    "/dev/zero: more than 262,140 bytes; an image holds at most 262,140"},
        EndlessCase{"Ihex", ImageFormat::IHEX,
                    "/dev/zero: more than 16,777,216 bytes; an Intel HEX file is read up to "
                    "16,777,216"},
        EndlessCase{"Srec", ImageFormat::SREC,
                    "/dev/zero: more than 16,777,216 bytes; an S-record file is read up to "
                    "16,777,216"},
        // Without the magic an ELF is refused by its first bytes.
        EndlessCase{"Elf", ImageFormat::ELF,
                    "/dev/zero: not an ELF file: it does not start with 0x7F 'E' 'L' 'F'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageFileTest, AFifoIsReadToTheEndOfWhatItsWriterSends) {
    const std::string fifo = m_dir.file("firmware.hex");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string text = ihexData(0, {1, 2, 3}) + IHEX_END;
    // The writer's open waits for the reader's, as a shell's `> fifo` would.
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) {
            writerThread(fd, bytesOf(text)).join();
        }
    });
    const LoadedImage image = loadImageFile(fifo, {});
    writer.join();
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.format, ImageFormat::IHEX);
    EXPECT_EQ(image.flat.bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(image.source, bytesOf(text));
}

// "-" reads the standard input: here a pipe whose writer sends an ELF, told by its magic,
// and then a raw binary larger than the image.
TEST_F(ImageFileTest, DashReadsAPipeOnTheStandardInput) {
    const int savedStdin = ::dup(STDIN_FILENO);
    ASSERT_GE(savedStdin, 0);
    auto fromPipe = [&](Bytes bytes) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::dup2(fds[0], STDIN_FILENO), STDIN_FILENO);
        ::close(fds[0]);
        std::thread writer = writerThread(fds[1], std::move(bytes));
        std::clearerr(stdin);
        const LoadedImage image = loadImageFile("-", {{}, 0x08000000});
        writer.join();
        return image;
    };

    ElfSegment code;
    code.paddr = 0x08000000;
    code.data = {7, 8, 9};
    const LoadedImage elf = fromPipe(elfFile(false, false, {code}));
    ASSERT_TRUE(elf.ok()) << elf.error;
    EXPECT_EQ(elf.format, ImageFormat::ELF);
    EXPECT_EQ(elf.flat.bytes, (Bytes{7, 8, 9}));

    const LoadedImage big = fromPipe(erased(FLAT_IMAGE_MAX_BYTES + 100));
    EXPECT_EQ(big.error, "standard input: more than 262,140 bytes; an image holds at most 262,140");

    ASSERT_EQ(::dup2(savedStdin, STDIN_FILENO), STDIN_FILENO);
    ::close(savedStdin);
}

}  // namespace
}  // namespace tarnlink::test
