#pragma once
// The system calls through which the Windows reader reads its port. The shipped programs
// call the system directly; the copy of the link that the tests build with
// TARNLINK_LINK_TEST_SEAMS calls them through a table that a test may change, to stand in
// for a driver that aborts every read or a port whose device is gone.

#include <windows.h>

#ifdef TARNLINK_LINK_TEST_SEAMS
#include <atomic>

namespace tarnlink {

using ReadFileCall = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using GetOverlappedResultCall = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
using ClearCommErrorCall = BOOL(WINAPI*)(HANDLE, LPDWORD, LPCOMSTAT);

/// The calls every reader of the process makes. A test may change them at any moment.
struct ReaderCalls {
    std::atomic<ReadFileCall> ReadFile{&::ReadFile};
    std::atomic<GetOverlappedResultCall> GetOverlappedResult{&::GetOverlappedResult};
    std::atomic<ClearCommErrorCall> ClearCommError{&::ClearCommError};
};

inline ReaderCalls& readerCalls() {
    static ReaderCalls calls;
    return calls;
}

}  // namespace tarnlink

#define TARNLINK_READER_CALL(name) (::tarnlink::readerCalls().name.load())
#else
#define TARNLINK_READER_CALL(name) (::name)
#endif
