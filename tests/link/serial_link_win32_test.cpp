// The Windows link against a real port: under Wine, a pseudo-terminal that
// tests/link/com_peer.cpp maps in as TARNLINK_TEST_COM_PORT, whose far end echoes every byte
// and reports what it got and the line settings Linux sees. Cases that need the port skip
// themselves without it. The close gives up after 1.5 s here
// (tests/support/short_link_close_wait.cpp); the programs wait 20 s.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_line_settings_win32.h"
#include "link/serial_link.h"
#include "tests/link/com_peer_port.h"

namespace tarnlink {
namespace {

using namespace test;

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> peerLine() {
    std::map<std::string, std::string> values;
    std::ifstream in(peerFile("line.txt"));
    std::string entry;
    while (std::getline(in, entry)) {
        const size_t equals = entry.find('=');
        if (equals != std::string::npos) {
            values[entry.substr(0, equals)] = entry.substr(equals + 1);
        }
    }
    return values;
}

// What the reader delivered, as the callback saw it. The callback returns `nextReadSize`.
struct Received {
    std::mutex mutex;
    std::condition_variable cond;
    std::vector<uint8_t> bytes;
    int32_t nextReadSize = 1;

    static int32_t feed(const uint8_t* data, int32_t count, void* context) {
        auto* self = static_cast<Received*>(context);
        std::lock_guard lock(self->mutex);
        self->bytes.insert(self->bytes.end(), data, data + count);
        self->cond.notify_all();
        return self->nextReadSize;
    }
    bool waitForBytes(size_t count, int timeoutMs) {
        std::unique_lock lock(mutex);
        return cond.wait_for(lock, Ms(timeoutMs), [&] { return bytes.size() >= count; });
    }
};

int32_t ignoreBytes(const uint8_t*, int32_t, void*) {
    return 1;
}

// Leaves the port as another program might have: everything that alters bytes turned on.
void spoilPortSettings(const std::string& port) {
    const HANDLE handle = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(handle, &dcb));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fParity = TRUE;
    dcb.fNull = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.ErrorChar = '?';
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    EXPECT_TRUE(SetCommState(handle, &dcb)) << GetLastError();
    CloseHandle(handle);
}

std::vector<uint8_t> allByteValues() {
    std::vector<uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
    return bytes;
}

// Every field that could alter a byte, from a record with all of them turned on.
TEST(SerialLineSettingsWin32, EveryByteAlteringFieldIsSetWhateverThePortHad) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = FALSE;
    dcb.fParity = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.fNull = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.XonChar = 0x13;
    dcb.XoffChar = 0x13;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    EXPECT_FALSE(lineSettingsTook(dcb));

    setLineSettings(dcb);
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_115200));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fParity);
    EXPECT_FALSE(dcb.fErrorChar);
    EXPECT_FALSE(dcb.fNull);
    EXPECT_FALSE(dcb.fAbortOnError);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_TRUE(dcb.fTXContinueOnXoff);
    EXPECT_NE(dcb.XonChar, dcb.XoffChar);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fDsrSensitivity);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_TRUE(lineSettingsTook(dcb));
}

// A driver may report the rate its hardware really runs after a SetCommState that took.
TEST(SerialLineSettingsWin32, ReadBackTakesARateWithinTwoPercent) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    setLineSettings(dcb);
    for (const DWORD rate : {115200ul, 115384ul, 114285ul, 112896ul, 117504ul}) {
        dcb.BaudRate = rate;
        EXPECT_TRUE(lineSettingsTook(dcb)) << rate;
    }
    for (const DWORD rate : {117647ul, 112895ul, 9600ul, 230400ul}) {
        dcb.BaudRate = rate;
        EXPECT_FALSE(lineSettingsTook(dcb)) << rate;
    }
}

TEST(SerialLinkWin32, OpenSetsTheLineAsBothWindowsAndLinuxSeeIt) {
    REQUIRE_TEST_PORT();
    spoilPortSettings(testPort());
    EXPECT_EQ(peerLine()["ixon"], "1") << "the peer's port did not start out hostile";

    SerialLink* link = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    // Linux's view, from the far end of the pseudo-terminal, while the link holds the port.
    const bool raw = waitUntil(
        [] {
            auto line = peerLine();
            return line["ispeed"] == "115200" && line["ospeed"] == "115200" &&
                   line["data_bits"] == "8" && line["parenb"] == "0" && line["ixon"] == "0";
        },
        3000);
    std::map<std::string, std::string> line = peerLine();
    EXPECT_TRUE(serialLinkClose(link));
    EXPECT_TRUE(raw);
    EXPECT_EQ(line["ispeed"], "115200");
    EXPECT_EQ(line["ospeed"], "115200");
    EXPECT_EQ(line["data_bits"], "8");
    for (const char* off : {"parenb", "cstopb", "crtscts", "ixon", "ixoff", "icrnl", "inlcr",
                            "igncr", "istrip", "parmrk", "opost", "icanon", "echo", "isig"}) {
        EXPECT_EQ(line[off], "0") << off;
    }

    // Windows' view: the port keeps its settings after the link has closed it.
    const HANDLE handle = CreateFileA(testPort().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(handle, &dcb));
    CloseHandle(handle);
    EXPECT_TRUE(lineSettingsTook(dcb));
    EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(CBR_115200));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fNull);
}

// The peer keeps what it got (the way out) and echoes it (the way back).
TEST(SerialLinkWin32, EveryByteValuePassesUnchangedBothWays) {
    REQUIRE_TEST_PORT();
    spoilPortSettings(testPort());
    Received received;
    received.nextReadSize = 256;
    SerialLink* link = serialLinkOpen(testPort().c_str(), &Received::feed, &received);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const std::vector<uint8_t> all = allByteValues();

    // One write carries at most 255 bytes, so the 256 values go out in two halves.
    EXPECT_TRUE(serialLinkWrite(link, all.data(), 128));
    EXPECT_TRUE(serialLinkWrite(link, all.data() + 128, 128));
    EXPECT_TRUE(received.waitForBytes(all.size(), 5000));
    EXPECT_TRUE(
        waitUntil([] { return readWholeFile(peerFile("received.bin")).size() >= 256; }, 3000));
    EXPECT_TRUE(serialLinkClose(link));
    EXPECT_EQ(readWholeFile(peerFile("received.bin")), all);
    EXPECT_EQ(received.bytes, all);
}

// The reader takes whatever the port holds in one read, but the callback still gets each
// call with no more than it asked for: the frame receiver asks for one byte at a time.
class SerialLinkWin32ReadSize : public ::testing::TestWithParam<int32_t> {};

TEST_P(SerialLinkWin32ReadSize, BytesReachTheCallbackInTheSizesItAsksFor) {
    REQUIRE_TEST_PORT();
    struct Calls {
        Received received;
        std::vector<int32_t> sizes;  // guarded by received.mutex
        static int32_t feed(const uint8_t* data, int32_t count, void* context) {
            auto* self = static_cast<Calls*>(context);
            {
                std::lock_guard lock(self->received.mutex);
                self->sizes.push_back(count);
            }
            return Received::feed(data, count, &self->received);
        }
    } calls;
    calls.received.nextReadSize = GetParam();
    SerialLink* link = serialLinkOpen(testPort().c_str(), &Calls::feed, &calls);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    // The far end echoes: three frames' worth that are in the port before the reader asks.
    std::vector<uint8_t> sent;
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<uint8_t> bytes(200, static_cast<uint8_t>(0x41 + frame));
        EXPECT_TRUE(serialLinkWrite(link, bytes.data(), static_cast<int32_t>(bytes.size())));
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(calls.received.waitForBytes(sent.size(), 5000));
    EXPECT_TRUE(serialLinkClose(link));
    std::lock_guard lock(calls.received.mutex);
    EXPECT_EQ(calls.received.bytes, sent);
    for (const int32_t size : calls.sizes) {
        ASSERT_GE(size, 1);
        ASSERT_LE(size, GetParam()) << "a call with more than the callback asked for";
    }
}

INSTANTIATE_TEST_SUITE_P(Asked, SerialLinkWin32ReadSize, ::testing::Values(1, 7));

// A read that returned at once with nothing would be issued again and again.
TEST(SerialLinkWin32, IdleReaderWaitsWithoutSpinning) {
    REQUIRE_TEST_PORT();
    SerialLink* link = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    std::this_thread::sleep_for(Ms(300));
    const double cpuBefore = processCpuMs();
    const auto start = Clock::now();
    std::this_thread::sleep_for(Ms(2000));
    const double cpu = processCpuMs() - cpuBefore;
    const long wall = elapsedMs(start);
    EXPECT_TRUE(serialLinkClose(link));
    // A spinning reader takes a whole core; a waiting one next to nothing.
    EXPECT_LT(cpu, wall * 0.25) << cpu << " ms of CPU in " << wall << " ms";
}

// A target that stops taking data (a USB CDC target that no longer reads, a Bluetooth link
// gone quiet): the peer stops reading until the port's buffers are full, and the write that
// finds no room fails at its limit instead of holding the worker for good.
TEST(SerialLinkWin32, WriteToAPortThatStopsTakingDataFailsWithinItsLimit) {
    REQUIRE_TEST_PORT();
    Received received;
    received.nextReadSize = 256;
    SerialLink* link = serialLinkOpen(testPort().c_str(), &Received::feed, &received);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    setPeerFile("hold", true);
    std::atomic<bool> done{false};
    std::atomic<int> written{0};
    std::atomic<long> failedAfterMs{-1};
    std::thread writer([&] {
        const std::vector<uint8_t> chunk(255, 0x55);
        for (int i = 0; i < 4000; ++i) {  // 1 MB: far more than any buffer on the way holds
            const auto start = Clock::now();
            if (!serialLinkWrite(link, chunk.data(), 255)) {
                failedAfterMs = elapsedMs(start);
                break;
            }
            ++written;
        }
        done = true;
    });
    const bool returned = waitUntil([&] { return done.load(); }, 30000);
    setPeerFile("hold", false);  // the peer drains the port: a write still waiting ends
    writer.join();
    EXPECT_TRUE(returned) << "a write did not return";
    EXPECT_GT(written.load(), 0);
    EXPECT_GE(failedAfterMs.load(), 1500) << "no write failed, or one failed early";
    EXPECT_LT(failedAfterMs.load(), 5000);

    // The link still works both ways: a failed write costs the reader nothing.
    const std::vector<uint8_t> marker = {0xA5, 0x5A, 0xC3};
    EXPECT_TRUE(serialLinkWrite(link, marker.data(), static_cast<uint32_t>(marker.size())));
    EXPECT_TRUE(waitUntil(
        [&] {
            std::lock_guard lock(received.mutex);
            return received.bytes.size() >= marker.size() &&
                   std::equal(marker.begin(), marker.end(), received.bytes.end() - 3);
        },
        10000))
        << "the marker's echo did not come back";
    EXPECT_TRUE(serialLinkClose(link));
}

// An adapter unplugged: the peer closes the pseudo-terminal's master, and its node goes away.
TEST(SerialLinkWin32, HangUpEndsTheReaderAndReportsTheLostPortWithoutSpinning) {
    REQUIRE_TEST_PORT();
    struct Lost {
        std::atomic<int> calls{0};
        static void lost(void* context) { ++static_cast<Lost*>(context)->calls; }
    } lost;
    const int threadsBefore = threadCount();
    Received received;
    SerialLink* link =
        serialLinkOpen(testPort().c_str(), &Received::feed, &received, &Lost::lost, &lost);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const uint8_t byte = 0x5A;
    ASSERT_TRUE(serialLinkWrite(link, &byte, 1));
    EXPECT_TRUE(received.waitForBytes(1, 3000));  // the echo: the peer is there

    const double cpuBefore = processCpuMs();
    const auto unplugged = Clock::now();
    setPeerFile("hangup", true);
    const bool reported = waitUntil([&] { return lost.calls.load() > 0; }, 3000);
    const long tookMs = elapsedMs(unplugged);
    std::this_thread::sleep_for(Ms(300));
    const double cpu = processCpuMs() - cpuBefore;
    const long wall = elapsedMs(unplugged);
    const auto closing = Clock::now();
    EXPECT_TRUE(serialLinkClose(link));
    EXPECT_LT(elapsedMs(closing), 500);
    EXPECT_TRUE(reported) << "the reader did not report the lost port within 3 s";
    EXPECT_LT(tookMs, 1500);
    EXPECT_EQ(lost.calls.load(), 1);
    EXPECT_LT(cpu, wall * 0.25) << cpu << " ms of CPU in " << wall << " ms";
    EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore);
}

TEST(SerialLinkWin32, CloseEndsTheWaitingReaderAtOnce) {
    REQUIRE_TEST_PORT();
    const int threadsBefore = threadCount();
    SerialLink* link = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    EXPECT_EQ(threadCount(), threadsBefore + 1);
    std::this_thread::sleep_for(Ms(150));  // the reader is inside its 1000 ms wait

    const auto start = Clock::now();
    EXPECT_TRUE(serialLinkClose(link));
    EXPECT_LT(elapsedMs(start), 500);
    EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore);
    // And the port opens again at once.
    SerialLink* again = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
    EXPECT_NE(again, nullptr) << serialLinkLastError();
    EXPECT_TRUE(serialLinkClose(again));
}

TEST(SerialLinkWin32, HeldPortRefusesASecondOpen) {
    REQUIRE_TEST_PORT();
    if (underWine()) {
        GTEST_SKIP() << "Wine opens a COM port twice despite share mode 0; Windows refuses";
    }
    SerialLink* holder = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
    ASSERT_NE(holder, nullptr) << serialLinkLastError();
    EXPECT_EQ(serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr), nullptr);
    EXPECT_EQ(serialLinkLastFailure(), PortOpenFailure::IN_USE);
    EXPECT_TRUE(serialLinkClose(holder));
}

struct FailedOpenCase {
    const char* name;
    std::string (*path)();
    PortOpenFailure expected;
    bool made = false;  ///< the path is a file the case made, to be removed after it
};

class SerialLinkWin32FailedOpen : public testing::TestWithParam<FailedOpenCase> {};

TEST_P(SerialLinkWin32FailedOpen, FailsWithItsReasonAndLeavesNoThread) {
    const std::string path = GetParam().path();
    const int threadsBefore = threadCount();
    EXPECT_EQ(serialLinkOpen(path.c_str(), &ignoreBytes, nullptr), nullptr);
    EXPECT_EQ(serialLinkLastFailure(), GetParam().expected) << path;
    EXPECT_NE(serialLinkLastError(), 0);
    EXPECT_EQ(threadCount(), threadsBefore);
    if (GetParam().made) {
        DeleteFileA(path.c_str());
    }
}

std::string temporaryFile() {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "tln", 0, path);  // creates it, empty
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SerialLinkWin32FailedOpen,
    testing::Values(
        // COM names the prefix has no port for; the peers take numbers from 20 up.
        FailedOpenCase{"MissingCom", [] { return std::string("\\\\.\\COM251"); },
                       PortOpenFailure::NO_SUCH_PORT},
        FailedOpenCase{"MissingComShort", [] { return std::string("COM252"); },
                       PortOpenFailure::NO_SUCH_PORT},
        FailedOpenCase{"ComZero", [] { return std::string("COM0"); },
                       PortOpenFailure::NO_SUCH_PORT},
        FailedOpenCase{"Minus", [] { return std::string("-3"); }, PortOpenFailure::NO_SUCH_PORT},
        FailedOpenCase{"RelativeName", [] { return std::string("port"); },
                       PortOpenFailure::NO_SUCH_PORT},
        FailedOpenCase{"File", &temporaryFile, PortOpenFailure::NOT_A_SERIAL_DEVICE, true},
        FailedOpenCase{"Nul", [] { return std::string("\\\\.\\NUL"); },
                       PortOpenFailure::NOT_A_SERIAL_DEVICE}),
    [](const testing::TestParamInfo<FailedOpenCase>& info) { return info.param.name; });

void waitFor(const std::atomic<bool>& flag) {
    while (!flag.load()) {
        std::this_thread::sleep_for(Ms(2));
    }
}

// A callback that blocks until the test lets it go, and the close's end handler, which
// records where it ran and whether the port opened again by then.
struct Stuck {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> inCallback{false};
    std::atomic<int> handlerCalls{0};
    std::atomic<bool> handlerSawCallbackRunning{false};
    std::atomic<bool> handlerOnReaderThread{false};
    std::atomic<bool> portOpenedInHandler{false};
    std::atomic<DWORD> readerThread{0};

    static int32_t feed(const uint8_t*, int32_t, void* context) {
        auto* self = static_cast<Stuck*>(context);
        self->readerThread = GetCurrentThreadId();
        self->inCallback = true;
        self->entered = true;
        waitFor(self->release);
        self->inCallback = false;
        return 1;
    }
    static void onReaderEnd(void* context) {
        auto* self = static_cast<Stuck*>(context);
        self->handlerSawCallbackRunning = self->inCallback.load();
        self->handlerOnReaderThread = GetCurrentThreadId() == self->readerThread.load();
        SerialLink* again = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
        self->portOpenedInHandler = again != nullptr;
        serialLinkClose(again);
        ++self->handlerCalls;  // last: the test may end once it sees this
    }
};

TEST(SerialLinkWin32, CloseGivesUpOnAStuckCallbackAndTheReaderReleasesEverythingAfterIt) {
    REQUIRE_TEST_PORT();
    const int threadsBefore = threadCount();
    Stuck stuck;
    SerialLink* link = serialLinkOpen(testPort().c_str(), &Stuck::feed, &stuck);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    const uint8_t byte = 0x5A;
    ASSERT_TRUE(serialLinkWrite(link, &byte, 1));  // the echo reaches the callback
    waitFor(stuck.entered);

    const auto start = Clock::now();
    EXPECT_FALSE(serialLinkClose(link, &Stuck::onReaderEnd, &stuck));
    EXPECT_GE(elapsedMs(start), 1400);
    EXPECT_LT(elapsedMs(start), 8000);
    if (!underWine()) {  // Wine would open it a second time anyway
        EXPECT_EQ(serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr), nullptr);
    }
    std::this_thread::sleep_for(Ms(200));
    EXPECT_EQ(stuck.handlerCalls.load(), 0);

    stuck.release = true;
    EXPECT_TRUE(waitUntil([&] { return stuck.handlerCalls.load() > 0; }, 10000));
    EXPECT_EQ(stuck.handlerCalls.load(), 1);
    EXPECT_FALSE(stuck.handlerSawCallbackRunning.load());
    EXPECT_TRUE(stuck.handlerOnReaderThread.load());
    EXPECT_TRUE(stuck.portOpenedInHandler.load());
    EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore);
}

TEST(SerialLinkWin32, CloseFromTheCallbackGivesUpAtOnceAndTheHandlerRunsAfterIt) {
    REQUIRE_TEST_PORT();
    struct SelfClosing : Stuck {
        std::atomic<SerialLink*> link{nullptr};
        std::atomic<bool> closeResult{true};
        std::atomic<long> closeMs{-1};
        std::atomic<int> calls{0};
        static int32_t feed(const uint8_t*, int32_t, void* context) {
            auto* self = static_cast<SelfClosing*>(context);
            ++self->calls;
            self->readerThread = GetCurrentThreadId();
            self->inCallback = true;
            SerialLink* link = nullptr;
            while ((link = self->link.load()) == nullptr) {
                std::this_thread::sleep_for(Ms(1));
            }
            const auto start = Clock::now();
            self->closeResult = serialLinkClose(link, &Stuck::onReaderEnd, self);
            self->closeMs = elapsedMs(start);
            self->inCallback = false;
            return 1;
        }
    } closing;
    const int threadsBefore = threadCount();
    SerialLink* link = serialLinkOpen(testPort().c_str(), &SelfClosing::feed, &closing);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    closing.link = link;
    const uint8_t bytes[] = {0x01, 0x02, 0x03};
    ASSERT_TRUE(serialLinkWrite(link, bytes, sizeof bytes));

    EXPECT_TRUE(waitUntil([&] { return closing.handlerCalls.load() > 0; }, 10000));
    EXPECT_FALSE(closing.closeResult.load());
    EXPECT_GE(closing.closeMs.load(), 0);
    EXPECT_LT(closing.closeMs.load(), 500);  // no wait for itself
    EXPECT_EQ(closing.calls.load(), 1);      // nothing is delivered after the stop
    EXPECT_EQ(closing.handlerCalls.load(), 1);
    EXPECT_FALSE(closing.handlerSawCallbackRunning.load());
    EXPECT_TRUE(closing.handlerOnReaderThread.load());
    EXPECT_TRUE(closing.portOpenedInHandler.load());
    EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore);
}

}  // namespace
}  // namespace tarnlink
