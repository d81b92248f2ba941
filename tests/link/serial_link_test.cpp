#include "link/serial_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_line_settings_posix.h"
#include "tests/support/process_resources.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace tarnlink {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using test::PtyPair;

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

std::vector<uint8_t> allByteValues() {
    std::vector<uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
    return bytes;
}

// What the reader delivered, as the callback saw it. The callback returns `nextReadSize`.
struct Received {
    std::mutex mutex;
    std::condition_variable cond;
    std::vector<uint8_t> bytes;
    std::vector<int32_t> counts;
    int32_t nextReadSize = 1;
    std::atomic<std::thread::id> readerThread{};
    // The link's reports of a lost port, and whether the last came on the reader thread.
    std::atomic<int> lostCalls{0};
    std::atomic<bool> lostOnReaderThread{false};

    static int32_t feed(const uint8_t* data, int32_t count, void* context) {
        auto* self = static_cast<Received*>(context);
        self->readerThread = std::this_thread::get_id();
        std::lock_guard lock(self->mutex);
        self->bytes.insert(self->bytes.end(), data, data + count);
        self->counts.push_back(count);
        self->cond.notify_all();
        return self->nextReadSize;
    }

    bool waitForBytes(size_t count, int timeoutMs) {
        std::unique_lock lock(mutex);
        return cond.wait_for(lock, Ms(timeoutMs), [&] { return bytes.size() >= count; });
    }

    size_t callCount() {
        std::lock_guard lock(mutex);
        return counts.size();
    }

    static void lost(void* context) {
        auto* self = static_cast<Received*>(context);
        self->lostOnReaderThread = std::this_thread::get_id() == self->readerThread.load();
        ++self->lostCalls;
    }
};

int32_t ignoreBytes(const uint8_t*, int32_t, void*) {
    return 1;
}

using test::baselineThreadCount;

TEST(SerialLink, BytesFromTheFarEndReachTheCallbackOneByteAtATimeInOrder) {
    PtyPair pty;
    Received received;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &Received::feed, &received);
    ASSERT_NE(link, nullptr) << serialLinkLastError();

    std::vector<uint8_t> sent;
    for (int i = 0; i < 1000; ++i) {
        sent.push_back(static_cast<uint8_t>((i * 7 + 3) & 0xFF));
    }
    pty.write(sent);
    EXPECT_TRUE(received.waitForBytes(sent.size(), 5000));
    serialLinkClose(link);

    EXPECT_EQ(received.bytes, sent);
    EXPECT_EQ(received.counts.size(), sent.size());
    EXPECT_TRUE(std::all_of(received.counts.begin(), received.counts.end(),
                            [](int32_t count) { return count == 1; }));
}

// From a port left cooked, with flow control and CR/LF mapping: the link must undo it all.
TEST(SerialLink, EveryByteValuePassesUnchangedInBothDirections) {
    PtyPair pty;
    pty.setHostileLineSettings();
    Received received;
    received.nextReadSize = 256;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &Received::feed, &received);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const std::vector<uint8_t> all = allByteValues();

    // One write carries at most 255 bytes, so the 256 values go out in two halves.
    EXPECT_TRUE(serialLinkWrite(link, all.data(), 128));
    EXPECT_TRUE(serialLinkWrite(link, all.data() + 128, 128));
    EXPECT_EQ(pty.read(256, 3000), all);

    pty.write(all);
    EXPECT_TRUE(received.waitForBytes(all.size(), 3000));
    serialLinkClose(link);
    EXPECT_EQ(received.bytes, all);
}

struct WriteCountCase {
    uint32_t count;
    size_t expectedBytes;
};

class SerialLinkWriteCount : public testing::TestWithParam<WriteCountCase> {};

TEST_P(SerialLinkWriteCount, OnlyTheLowEightBitsOfTheCountAreWritten) {
    PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    std::vector<uint8_t> source(600);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i * 13);
    }

    EXPECT_TRUE(serialLinkWrite(link, source.data(), GetParam().count));
    // Ask for more than should come, so that extra bytes would show.
    const std::vector<uint8_t> arrived = pty.read(GetParam().expectedBytes + 1, 300);
    serialLinkClose(link);

    const std::vector<uint8_t> expected(
        source.begin(), source.begin() + static_cast<long>(GetParam().expectedBytes));
    EXPECT_EQ(arrived, expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, SerialLinkWriteCount,
                         testing::Values(WriteCountCase{0, 0}, WriteCountCase{1, 1},
                                         WriteCountCase{255, 255}, WriteCountCase{256, 0},
                                         WriteCountCase{300, 44}, WriteCountCase{511, 255},
                                         WriteCountCase{0x10000 + 5, 5}),
                         [](const testing::TestParamInfo<WriteCountCase>& info) {
                             return "Count" + std::to_string(info.param.count);
                         });

struct ReadSizeCase {
    int32_t returned;
    int32_t expectedReadSize;
};

class SerialLinkReadSize : public testing::TestWithParam<ReadSizeCase> {};

// The first read asks for one byte; its callback holds the reader until the test has put
// 600 bytes in the line, so the second read gets as many as it asks for.
TEST_P(SerialLinkReadSize, CallbackResultIsClampedToOneTo256) {
    struct Gate {
        Received received;
        std::atomic<bool> open{false};
        static int32_t feed(const uint8_t* data, int32_t count, void* context) {
            auto* self = static_cast<Gate*>(context);
            while (!self->open.load()) {
                std::this_thread::sleep_for(Ms(1));
            }
            return Received::feed(data, count, &self->received);
        }
    } gate;
    gate.received.nextReadSize = GetParam().returned;
    PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &Gate::feed, &gate);
    ASSERT_NE(link, nullptr) << serialLinkLastError();

    std::vector<uint8_t> sent(600);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>(i);
    }
    pty.write({sent[0]});
    std::this_thread::sleep_for(Ms(100));  // the reader is now in the first callback
    pty.write(std::vector<uint8_t>(sent.begin() + 1, sent.end()));
    std::this_thread::sleep_for(Ms(200));  // the pseudo-terminal has moved them to the slave
    gate.open = true;
    EXPECT_TRUE(gate.received.waitForBytes(sent.size(), 5000));
    serialLinkClose(link);

    EXPECT_EQ(gate.received.bytes, sent);
    ASSERT_GE(gate.received.counts.size(), 2u);
    EXPECT_EQ(gate.received.counts[0], 1);
    EXPECT_EQ(gate.received.counts[1], GetParam().expectedReadSize);
    for (int32_t count : gate.received.counts) {
        EXPECT_LE(count, GetParam().expectedReadSize);
    }
}

INSTANTIATE_TEST_SUITE_P(Results, SerialLinkReadSize,
                         testing::Values(ReadSizeCase{1, 1}, ReadSizeCase{17, 17},
                                         ReadSizeCase{256, 256}, ReadSizeCase{257, 256},
                                         ReadSizeCase{100000, 256}, ReadSizeCase{0, 1},
                                         ReadSizeCase{-5, 1}),
                         [](const testing::TestParamInfo<ReadSizeCase>& info) {
                             const int32_t r = info.param.returned;
                             return "Returns" +
                                    (r < 0 ? "Minus" + std::to_string(-r) : std::to_string(r)) +
                                    "ReadsAs" + std::to_string(info.param.expectedReadSize);
                         });

// Paths that cannot become a link. `make` returns the path; the failure must report
// `expectedFailure` and `expectedError` as its errno.
struct FailedOpenCase {
    const char* name;
    std::string (*make)(const test::TempDir& dir);
    PortOpenFailure expectedFailure;
    int expectedError;
};

class SerialLinkFailedOpen : public testing::TestWithParam<FailedOpenCase> {};

TEST_P(SerialLinkFailedOpen, FailsAndLeavesNothingOpen) {
    test::TempDir dir;
    const std::string path = GetParam().make(dir);
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = baselineThreadCount();

    EXPECT_EQ(serialLinkOpen(path.c_str(), &ignoreBytes, nullptr), nullptr);
    EXPECT_EQ(serialLinkLastFailure(), GetParam().expectedFailure);
    EXPECT_EQ(serialLinkLastError(), GetParam().expectedError);
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
    EXPECT_EQ(test::threadCount(), threadsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SerialLinkFailedOpen,
    testing::Values(
        FailedOpenCase{"MissingDevice",
                       [](const test::TempDir& dir) { return dir.file("ttyNone"); },
                       PortOpenFailure::NO_SUCH_PORT, ENOENT},
        FailedOpenCase{
            "InsideAFile",
            [](const test::TempDir& dir) { return dir.write("plain", {0x01}) + "/ttyS0"; },
            PortOpenFailure::NO_SUCH_PORT, ENOTDIR},
        FailedOpenCase{"RegularFile",
                       [](const test::TempDir& dir) {
                           return dir.write("image.bin", {0x55, 0xAA, 0x0D, 0x0A});
                       },
                       PortOpenFailure::NOT_A_SERIAL_DEVICE, ENOTTY},
        FailedOpenCase{"DevNull", [](const test::TempDir&) { return std::string("/dev/null"); },
                       PortOpenFailure::NOT_A_SERIAL_DEVICE, ENOTTY},
        FailedOpenCase{"ComZero", [](const test::TempDir&) { return std::string("\\\\.\\COM0"); },
                       PortOpenFailure::NO_SUCH_PORT, ENOENT},
        FailedOpenCase{"ComNegative",
                       [](const test::TempDir&) { return std::string("\\\\.\\COM-3"); },
                       PortOpenFailure::NO_SUCH_PORT, ENOENT},
        FailedOpenCase{"RelativeName", [](const test::TempDir&) { return std::string("ttyS0"); },
                       PortOpenFailure::NO_SUCH_PORT, ENOENT}),
    [](const testing::TestParamInfo<FailedOpenCase>& info) { return info.param.name; });

TEST(SerialLink, HeldPortRefusesASecondOpenAndOpensAgainOnceReleased) {
    PtyPair pty;
    SerialLink* holder = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(holder, nullptr) << serialLinkLastError();
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = baselineThreadCount();

    EXPECT_EQ(serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr), nullptr);
    // Root passes TIOCEXCL and meets the lock; anyone else meets the exclusive flag.
    const int error = serialLinkLastError();
    EXPECT_TRUE(error == EBUSY || error == EWOULDBLOCK) << error;
    EXPECT_EQ(serialLinkLastFailure(), PortOpenFailure::IN_USE);
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
    EXPECT_EQ(test::threadCount(), threadsBefore);

    // The failed open must not have taken the holder's claim away with it.
    EXPECT_EQ(serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr), nullptr);

    serialLinkClose(holder);
    SerialLink* again = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    EXPECT_NE(again, nullptr) << serialLinkLastError();
    serialLinkClose(again);
}

// The master reports the slave's settings, so this holds for every user; the port starts
// out hostile, so each part of the link's set-up has to have taken.
TEST(SerialLink, HeldPortIsRawAt115200EightNOne) {
    PtyPair pty;
    pty.setHostileLineSettings();
    ASSERT_FALSE(lineSettingsTook(pty.lineSettings()));
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const termios tio = pty.lineSettings();
    serialLinkClose(link);

    EXPECT_TRUE(lineSettingsTook(tio));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                             ICRNL | IXON | IXOFF | IXANY),
              0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

// Only root gets past TIOCEXCL to look at the flag from a second descriptor.
TEST(SerialLink, HeldPortIsExclusiveUntilClosed) {
    PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) {
        serialLinkClose(link);
        EXPECT_EQ(errno, EBUSY);
        GTEST_SKIP() << "the exclusive flag keeps a non-root probe out";
    }
    int exclusive = 0;
    ASSERT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    serialLinkClose(link);
    ASSERT_EQ(ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);  // a pseudo-terminal keeps the flag unless the close clears it
    ::close(probe);
}

// The read-back check: raw 115200 8N1 passes, and each way a port can keep something else
// of its old settings fails it.
TEST(SerialLineSettings, ReadBackRejectsEveryPartThatDidNotTake) {
    PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const termios good = pty.lineSettings();
    serialLinkClose(link);
    ASSERT_TRUE(lineSettingsTook(good));

    const struct {
        const char* what;
        void (*spoil)(termios&);
    } cases[] = {
        {"9600 out", [](termios& t) { cfsetospeed(&t, B9600); }},
        {"9600 in", [](termios& t) { cfsetispeed(&t, B9600); }},
        {"7 bits", [](termios& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS7; }},
        {"parity", [](termios& t) { t.c_cflag |= PARENB; }},
        {"2 stop bits", [](termios& t) { t.c_cflag |= CSTOPB; }},
        {"CTS/RTS flow", [](termios& t) { t.c_cflag |= CRTSCTS; }},
        {"receiver off", [](termios& t) { t.c_cflag &= ~CREAD; }},
        {"modem lines", [](termios& t) { t.c_cflag &= ~CLOCAL; }},
        {"XON/XOFF out", [](termios& t) { t.c_iflag |= IXON; }},
        {"XON/XOFF in", [](termios& t) { t.c_iflag |= IXOFF; }},
        {"CR to NL", [](termios& t) { t.c_iflag |= ICRNL; }},
        {"CR dropped", [](termios& t) { t.c_iflag |= IGNCR; }},
        {"8th bit stripped", [](termios& t) { t.c_iflag |= ISTRIP; }},
        {"break as NUL", [](termios& t) { t.c_iflag |= BRKINT; }},
        {"parity marks", [](termios& t) { t.c_iflag |= PARMRK; }},
        {"output processing", [](termios& t) { t.c_oflag |= OPOST; }},
        {"echo", [](termios& t) { t.c_lflag |= ECHO; }},
        {"lines", [](termios& t) { t.c_lflag |= ICANON; }},
        {"signals", [](termios& t) { t.c_lflag |= ISIG; }},
        {"extensions", [](termios& t) { t.c_lflag |= IEXTEN; }},
        {"read returns empty", [](termios& t) { t.c_cc[VMIN] = 0; }},
        {"read waits a while", [](termios& t) { t.c_cc[VTIME] = 5; }},
    };
    for (const auto& c : cases) {
        termios spoiled = good;
        c.spoil(spoiled);
        EXPECT_FALSE(lineSettingsTook(spoiled)) << c.what;
    }
}

TEST(SerialLink, CloseWhileTheReaderWaitsEndsItAtOnceAndReleasesEverything) {
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = baselineThreadCount();
    Received received;
    {
        PtyPair pty;
        SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &Received::feed, &received,
                                          &Received::lost, &received);
        ASSERT_NE(link, nullptr) << serialLinkLastError();
        EXPECT_EQ(test::threadCount(), threadsBefore + 1);
        std::this_thread::sleep_for(Ms(150));  // the reader is inside its 1000 ms wait

        const auto start = Clock::now();
        serialLinkClose(link);
        EXPECT_LT(elapsedMs(start), 500);
    }
    EXPECT_EQ(test::waitForThreadCount(threadsBefore), threadsBefore);
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
    EXPECT_EQ(received.lostCalls.load(), 0) << "a requested stop is no lost port";
}

TEST(SerialLink, HangUpEndsTheReaderReportsTheLostPortOnceAndCloseThenReturnsAtOnce) {
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = baselineThreadCount();
    Received received;
    {
        PtyPair pty;
        SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &Received::feed, &received,
                                          &Received::lost, &received);
        ASSERT_NE(link, nullptr) << serialLinkLastError();
        pty.write({0x5A});
        EXPECT_TRUE(received.waitForBytes(1, 3000));
        pty.closeMaster();

        // The reader ends on the hang-up by itself, neither spinning nor waiting for a stop,
        // and says so at once.
        EXPECT_EQ(test::waitForThreadCount(threadsBefore, 3000), threadsBefore);
        EXPECT_EQ(received.lostCalls.load(), 1);
        EXPECT_TRUE(received.lostOnReaderThread.load());
        std::this_thread::sleep_for(Ms(300));
        EXPECT_EQ(received.callCount(), 1u);

        const uint8_t byte = 0x01;
        EXPECT_FALSE(serialLinkWrite(link, &byte, 1));
        const auto start = Clock::now();
        serialLinkClose(link);
        EXPECT_LT(elapsedMs(start), 200);
    }
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
    EXPECT_EQ(received.lostCalls.load(), 1);
}

TEST(SerialLink, CloseFromTheCallbackLetsTheReaderFreeTheLinkItself) {
    struct SelfClosing {
        std::atomic<SerialLink*> link{nullptr};
        std::atomic<int> calls{0};
        std::atomic<bool> returned{false};
        static int32_t feed(const uint8_t*, int32_t, void* context) {
            auto* self = static_cast<SelfClosing*>(context);
            ++self->calls;
            SerialLink* link = nullptr;
            while ((link = self->link.load()) == nullptr) {
                std::this_thread::sleep_for(Ms(1));
            }
            serialLinkClose(link);
            // Nobody joins the reader now: this is what orders its last look at us.
            self->returned = true;
            return 1;
        }
    } closing;
    const int threadsBefore = baselineThreadCount();
    PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &SelfClosing::feed, &closing);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    closing.link = link;
    pty.write({0x01, 0x02});
    // The reader ends (a leak or a use after free would show under the sanitizers), and
    // the byte behind the stop is not delivered.
    EXPECT_EQ(test::waitForThreadCount(threadsBefore, 3000), threadsBefore);
    while (!closing.returned.load()) {
        std::this_thread::sleep_for(Ms(1));
    }
    EXPECT_EQ(closing.calls.load(), 1);
}

TEST(SerialLink, CloseOfNullIsIgnoredAndWriteToNullFails) {
    serialLinkClose(nullptr);
    const uint8_t byte = 0;
    EXPECT_FALSE(serialLinkWrite(nullptr, &byte, 1));
}

}  // namespace
}  // namespace tarnlink
