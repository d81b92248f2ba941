// The Windows reader against a driver that a real port under Wine cannot imitate: its reads
// complete aborted or empty, over and over, the way some drivers behave after an unplug or
// on resume. The reader's system calls are replaced through the test build's table
// (link/reader_calls_win32.h); the port itself is the peer's (tests/link/com_peer.cpp). The
// close gives up after 1.5 s here (tests/support/short_link_close_wait.cpp).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/reader_calls_win32.h"
#include "link/serial_link.h"
#include "tests/link/com_peer_port.h"

namespace tarnlink {
namespace {

using namespace test;

std::atomic<int> s_reads{0};

// Every read is "pending" and done at once: the read event is signalled before the wait.
BOOL WINAPI pendingRead(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED overlapped) {
    ++s_reads;
    SetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI abortedResult(HANDLE, LPOVERLAPPED, LPDWORD moved, BOOL) {
    *moved = 0;
    SetLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
}

BOOL WINAPI emptyResult(HANDLE, LPOVERLAPPED, LPDWORD moved, BOOL) {
    *moved = 0;
    return TRUE;
}

// A removed device answers nothing any more.
BOOL WINAPI goneCommError(HANDLE, LPDWORD, LPCOMSTAT) {
    SetLastError(ERROR_BAD_COMMAND);
    return FALSE;
}

int32_t ignoreBytes(const uint8_t*, int32_t, void*) {
    return 1;
}

void countLostPort(void* context) {
    ++*static_cast<std::atomic<int>*>(context);
}

// The system's own calls again when a case ends, whatever it replaced.
struct RealCallsAfterwards {
    ~RealCallsAfterwards() {
        readerCalls().ReadFile = &::ReadFile;
        readerCalls().GetOverlappedResult = &::GetOverlappedResult;
        readerCalls().ClearCommError = &::ClearCommError;
    }
};

class SerialLinkWin32DeadPort : public testing::TestWithParam<GetOverlappedResultCall> {};

// Reads that end with nothing on a port that no longer answers: given up at once, the port
// reported lost and released.
TEST_P(SerialLinkWin32DeadPort, EndsTheReaderAtOnceAsLost) {
    REQUIRE_TEST_PORT();
    const int threadsBefore = threadCount();
    std::atomic<int> lostCalls{0};
    {
        RealCallsAfterwards restore;
        readerCalls().ReadFile = &pendingRead;
        readerCalls().GetOverlappedResult = GetParam();
        readerCalls().ClearCommError = &goneCommError;
        s_reads = 0;
        const auto opened = Clock::now();
        SerialLink* link =
            serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr, &countLostPort, &lostCalls);
        ASSERT_NE(link, nullptr) << serialLinkLastError();
        EXPECT_TRUE(waitUntil([&] { return lostCalls.load() > 0; }, 3000));
        EXPECT_LT(elapsedMs(opened), 1000);
        EXPECT_LE(s_reads.load(), 3) << "the reader went on reading a dead port";
        const auto closing = Clock::now();
        EXPECT_TRUE(serialLinkClose(link));
        EXPECT_LT(elapsedMs(closing), 500);
    }
    EXPECT_EQ(lostCalls.load(), 1);
    EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore);
    SerialLink* again = serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr);
    EXPECT_NE(again, nullptr) << "the port was not released: " << serialLinkLastError();
    EXPECT_TRUE(serialLinkClose(again));
}

INSTANTIATE_TEST_SUITE_P(ReadsEnd, SerialLinkWin32DeadPort,
                         testing::Values(&abortedResult, &emptyResult),
                         [](const testing::TestParamInfo<GetOverlappedResultCall>& info) {
                             return info.param == &abortedResult ? "Aborted" : "Empty";
                         });

struct FruitlessCase {
    const char* name;
    GetOverlappedResultCall result;  ///< how each read ends
    bool portAnswers;                ///< ClearCommError still works
};

void PrintTo(const FruitlessCase& c, std::ostream* out) {
    *out << c.name;
}

class SerialLinkWin32FruitlessReads : public testing::TestWithParam<FruitlessCase> {};

// Reads that bring nothing, forever: the reader neither spins nor misses the stop (the read
// event, first in its wait, is always signalled), and the close ends it at once. Left
// alone, it gives the port up: at once when the port no longer answers, after about a
// second when it still does.
TEST_P(SerialLinkWin32FruitlessReads, ReaderPausesSeesTheStopAndGivesUpInTheEnd) {
    REQUIRE_TEST_PORT();
    const int threadsBefore = threadCount();
    RealCallsAfterwards restore;
    readerCalls().ReadFile = &pendingRead;
    readerCalls().GetOverlappedResult = GetParam().result;
    if (!GetParam().portAnswers) {
        readerCalls().ClearCommError = &goneCommError;
    }
    // No SCOPED_TRACE: on Windows, GoogleTest starts a thread of its own for it.
    for (const bool closeEarly : {true, false}) {
        const char* how = closeEarly ? "closed while it reads" : "left alone";
        std::atomic<int> lostCalls{0};
        s_reads = 0;
        SerialLink* link =
            serialLinkOpen(testPort().c_str(), &ignoreBytes, nullptr, &countLostPort, &lostCalls);
        ASSERT_NE(link, nullptr) << serialLinkLastError();
        const double cpuBefore = processCpuMs();
        const auto start = Clock::now();
        std::this_thread::sleep_for(Ms(closeEarly ? 300 : 3000));
        const double cpu = processCpuMs() - cpuBefore;
        const long wall = elapsedMs(start);
        EXPECT_LT(cpu, wall * 0.25) << how << ": " << cpu << " ms of CPU in " << wall << " ms";
        EXPECT_LT(s_reads.load(), 100) << how << ": reads issued without a pause";
        const auto closing = Clock::now();
        EXPECT_TRUE(serialLinkClose(link)) << how;
        EXPECT_LT(elapsedMs(closing), 500) << how;
        // Asked to stop first, it lost no port; otherwise it lost it, once.
        EXPECT_EQ(lostCalls.load(), closeEarly && GetParam().portAnswers ? 0 : 1) << how;
        EXPECT_EQ(waitForThreadCount(threadsBefore), threadsBefore) << how;
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, SerialLinkWin32FruitlessReads,
                         testing::Values(FruitlessCase{"AbortedPortAnswers", &abortedResult, true},
                                         FruitlessCase{"AbortedPortGone", &abortedResult, false},
                                         FruitlessCase{"EmptyPortAnswers", &emptyResult, true},
                                         FruitlessCase{"EmptyPortGone", &emptyResult, false}),
                         [](const testing::TestParamInfo<FruitlessCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace tarnlink
