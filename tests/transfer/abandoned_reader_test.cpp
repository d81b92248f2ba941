// A reader stuck in the dispatcher past the close's limit (here 1.5 s, by
// tests/support/short_link_close_wait.cpp; the programs wait 20 s): the crypt output is a
// FIFO whose reader stops reading, so the dispatcher's write blocks as on a stalled disk.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/pty_pair.h"
#include "tests/transfer/sim_transfer_fixture.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using test::patternImage;
using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;

// Reads what the FIFO holds, and what comes, until its writer has closed it.
Bytes drainUntilClosed(int fd, int timeoutMs) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + Ms(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 100) <= 0) {
            continue;
        }
        uint8_t buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) {
            return bytes;  // the writer's close
        }
        if (n > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }
    ADD_FAILURE() << "the crypt output was never closed";
    return bytes;
}

class AbandonedReaderTest : public test::SimTransferTest {};

TEST_F(AbandonedReaderTest, StuckDispatcherKeepsItsFileAndNoTransferStartsUntilItEnds) {
    constexpr size_t BLOCKS = 100;
    constexpr int PIPE_BYTES = 4096;  // 64 blocks, then the dispatcher's write blocks
    const Bytes plain = patternImage(BLOCKS * 64, 9);
    sim::SimOptions options;
    options.flashIn = m_dir.write("flash-in.bin", plain);
    startSim(options);
    const std::string fifo = m_dir.file("stalled.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int drain = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(drain, 0);
    ASSERT_EQ(fcntl(drain, F_SETPIPE_SZ, PIPE_BYTES), PIPE_BYTES);

    const auto start = std::chrono::steady_clock::now();
    startCryptReadBack(fifo.c_str(), port().c_str());
    // The block after the 64th gets no answer in time, and the close gives up on the reader.
    const std::optional<uint8_t> first = awaitResult(20000);
    const auto reported = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(first, TARGET_TIMEOUT);
    EXPECT_GE(reported, Ms(1500));
    EXPECT_EQ(g_transfer.link.load(), nullptr);
    EXPECT_FALSE(g_transfer.worker.load());
    EXPECT_TRUE(g_transfer.readerOwnsTransfer.load());
    EXPECT_NE(g_transfer.file.load(), nullptr) << "the stuck reader's file was taken from it";
    EXPECT_NE(g_transfer.ackEvent.load(), nullptr);

    // Neither kind of transfer starts while that reader may still touch the context, not
    // even on another port, which the stuck reader does not hold.
    test::PtyPair otherPort;
    const std::string image = m_dir.write("image.bin", patternImage(640, 3));
    startDownload(image.c_str(), otherPort.slavePath().c_str(), 0);
    EXPECT_EQ(awaitResult(500, 2), SERIALPORT_ERROR);
    startCryptReadBack(m_dir.file("other.bin").c_str(), otherPort.slavePath().c_str());
    EXPECT_EQ(awaitResult(500, 3), SERIALPORT_ERROR);
    EXPECT_NE(g_transfer.file.load(), nullptr);

    // Once the write goes through, the reader ends and releases the event and the file.
    const Bytes written = drainUntilClosed(drain, 10000);
    ::close(drain);
    const Bytes encrypted = sim::SimTarget::encrypt(plain);
    ASSERT_EQ(written.size(), 65u * 64u);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), encrypted.begin()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (g_transfer.readerOwnsTransfer.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(Ms(5));
    }
    EXPECT_FALSE(g_transfer.readerOwnsTransfer.load());
    EXPECT_EQ(g_transfer.file.load(), nullptr);
    EXPECT_EQ(g_transfer.ackEvent.load(), nullptr);

    // And the next transfer runs as usual.
    const std::string output = m_dir.file("crypt.bin");
    startCryptReadBack(output.c_str(), port().c_str());
    EXPECT_EQ(awaitResult(30000, 4), CRYPT_UPLOADED);
    EXPECT_EQ(test::readFile(output), encrypted);
}

}  // namespace
}  // namespace tarnlink
