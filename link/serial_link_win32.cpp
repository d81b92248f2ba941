// The serial link on Windows: an overlapped COM handle, a reader thread that waits on its
// read event and the link's stop event, and writes that wait for their own event.
#include <windows.h>

#include <atomic>
#include <new>

#include "link/port_name.h"
#include "link/reader_hand_over.h"
#include "link/serial_line_settings_win32.h"
#include "link/serial_link.h"
#include "link/serial_link_close_wait.h"
#include "link/serial_link_error.h"

namespace tarnlink {

struct SerialLink {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE reader = nullptr;
    HANDLE stop = nullptr;                   // manual-reset; only serialLinkClose sets it
    std::atomic<bool> stopRequested{false};  // the same request, cheap to look at between reads
    RxCallback callback = nullptr;
    void* context = nullptr;
    ReaderHandOver handOver;
};

namespace {

constexpr DWORD READ_WAIT_MS = 1000;
constexpr DWORD FAILED_WAIT_PAUSE_MS = 1000;
constexpr DWORD READ_BUFFER_SIZE = 256;

void releaseLink(SerialLink* link) {
    if (link->port != INVALID_HANDLE_VALUE) {
        CloseHandle(link->port);
    }
    if (link->reader != nullptr) {
        CloseHandle(link->reader);
    }
    if (link->stop != nullptr) {
        CloseHandle(link->stop);
    }
    delete link;
}

SerialLink* failOpen(SerialLink* link, PortOpenFailure failure, DWORD error) {
    setSerialLinkLastFailure(failure, static_cast<int>(error));
    releaseLink(link);
    return nullptr;
}

// What the system's answer to CreateFileA means to the user. A COM port that another
// program holds answers "access denied": the port is opened without sharing.
PortOpenFailure openFailureOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_BAD_NETPATH:
        case ERROR_DEV_NOT_EXIST:
            return PortOpenFailure::NO_SUCH_PORT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return PortOpenFailure::IN_USE;
        default:
            return PortOpenFailure::SYSTEM_ERROR;
    }
}

// A read waits for its first byte as long as it takes (no total time-out: the stop event
// ends the wait), then returns once the line has been quiet for a millisecond or the size
// asked for has come; a one-byte read returns with its byte. The documented "MAXDWORD,
// MAXDWORD, constant" form would do the same on Windows, but Wine waits there for the whole
// size. Writes have no time limit of their own.
bool setTimeouts(HANDLE port) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

DWORD clampReadSize(int32_t requested) {
    if (requested < 1) {
        return 1;
    }
    return requested > static_cast<int32_t>(READ_BUFFER_SIZE) ? READ_BUFFER_SIZE
                                                              : static_cast<DWORD>(requested);
}

// Cancels the read that is outstanding and waits until the system no longer owns the
// buffer and the event: neither may be touched after the reader has ended.
void abandonRead(HANDLE port, OVERLAPPED* overlapped) {
    CancelIoEx(port, overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(port, overlapped, &ignored, TRUE);
}

DWORD WINAPI readerThreadMain(LPVOID parameter) {
    auto* link = static_cast<SerialLink*>(parameter);
    const uint32_t result = serialLinkReader(link);
    // After this the record may be gone, unless the close has given up on us. Our own
    // thread handle stays valid until the thread has ended, so releasing it here is safe.
    ReaderEndAction onEnd;
    if (link->handOver.readerEnds(onEnd)) {
        releaseLink(link);
        onEnd.run();
    }
    return result;
}

}  // namespace

std::string serialPortDevicePath(const std::string& name) {
    return portDevicePathFor(PortNaming::WINDOWS, name);
}

SerialLink* serialLinkOpen(const char* path, RxCallback callback, void* context) {
    if (path == nullptr || callback == nullptr) {
        setSerialLinkLastFailure(PortOpenFailure::SYSTEM_ERROR, ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string device = serialPortDevicePath(path);
    if (device.empty()) {
        setSerialLinkLastFailure(PortOpenFailure::NO_SUCH_PORT, ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    auto* link = new (std::nothrow) SerialLink;
    if (link == nullptr) {
        setSerialLinkLastFailure(PortOpenFailure::SYSTEM_ERROR, ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    link->callback = callback;
    link->context = context;

    // No sharing: the port is ours alone while the link lives.
    link->port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (link->port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return failOpen(link, openFailureOf(error), error);
    }
    // The driver may raise RTS on open; drop it before anything else. A file has no lines.
    (void)EscapeCommFunction(link->port, CLRRTS);
    // A disk file or a pipe opens like a port; only a character device can be one.
    if (GetFileType(link->port) != FILE_TYPE_CHAR) {
        return failOpen(link, PortOpenFailure::NOT_A_SERIAL_DEVICE, ERROR_INVALID_HANDLE);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(link->port, &dcb)) {
        return failOpen(link, PortOpenFailure::NOT_A_SERIAL_DEVICE, GetLastError());
    }
    setLineSettings(dcb);
    if (!SetCommState(link->port, &dcb)) {
        return failOpen(link, PortOpenFailure::SETTINGS_REFUSED, GetLastError());
    }
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!GetCommState(link->port, &applied)) {
        return failOpen(link, PortOpenFailure::SETTINGS_REFUSED, GetLastError());
    }
    if (!lineSettingsTook(applied)) {
        return failOpen(link, PortOpenFailure::SETTINGS_REFUSED, ERROR_INVALID_PARAMETER);
    }
    if (!setTimeouts(link->port)) {
        return failOpen(link, PortOpenFailure::SETTINGS_REFUSED, GetLastError());
    }
    link->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (link->stop == nullptr) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, GetLastError());
    }
    link->reader = CreateThread(nullptr, 0, readerThreadMain, link, 0, nullptr);
    if (link->reader == nullptr) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, GetLastError());
    }
    return link;
}

bool serialLinkWrite(SerialLink* link, const uint8_t* bytes, uint32_t count) {
    const DWORD total = count & 0xFFu;
    if (link == nullptr || (bytes == nullptr && total > 0)) {
        return false;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return false;
    }
    // Without write time-outs a write ends only when every byte has gone, or on an error;
    // fewer bytes than asked for is counted as a failure all the same.
    // The count comes from GetOverlappedResult even when the write completes at once: the
    // one that WriteFile reports for an overlapped handle is not to be relied on.
    DWORD moved = 0;
    bool written = false;
    if (WriteFile(link->port, bytes, total, nullptr, &overlapped)) {
        written =
            GetOverlappedResult(link->port, &overlapped, &moved, FALSE) != FALSE && moved == total;
    } else if (GetLastError() == ERROR_IO_PENDING &&
               WaitForSingleObject(overlapped.hEvent, INFINITE) == WAIT_OBJECT_0) {
        written =
            GetOverlappedResult(link->port, &overlapped, &moved, FALSE) != FALSE && moved == total;
    }
    CloseHandle(overlapped.hEvent);
    return written;
}

namespace {

// How much to read next: what the callback asked for, or everything the port holds already.
// The callback asks for one byte at a time; reading the port that way would cost a call (and
// under Wine a server round trip) per byte. A read of bytes already there completes at once.
DWORD nextReadSize(HANDLE port, DWORD asked) {
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(port, &errors, &status) || status.cbInQue <= asked) {
        return asked;
    }
    return status.cbInQue < READ_BUFFER_SIZE ? status.cbInQue : READ_BUFFER_SIZE;
}

// Hands the bytes of one completed read to the callback, each call with exactly as many as
// the callback asked for last. False when a stop came in between: the rest is dropped, and
// the callback must not run again (a chatty line would keep the reader from its stop forever).
bool deliver(SerialLink* link, const uint8_t* buffer, DWORD moved, DWORD& nextRead) {
    DWORD done = 0;
    while (done < moved) {
        if (link->stopRequested.load()) {
            return false;
        }
        const DWORD chunk = moved - done < nextRead ? moved - done : nextRead;
        nextRead = clampReadSize(
            link->callback(buffer + done, static_cast<int32_t>(chunk), link->context));
        done += chunk;
    }
    return !link->stopRequested.load();
}

}  // namespace

uint32_t serialLinkReader(SerialLink* link) {
    uint8_t buffer[READ_BUFFER_SIZE];
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return 0;
    }
    // The read first: a read that completes together with the stop is delivered.
    const HANDLE waitSet[2] = {overlapped.hEvent, link->stop};
    DWORD nextRead = 1;
    bool pending = false;
    uint32_t result = 0;
    for (;;) {
        if (!pending) {
            DWORD moved = 0;
            if (ReadFile(link->port, buffer, nextReadSize(link->port, nextRead), nullptr,
                         &overlapped)) {
                // Completed at once; the count is fetched as for a read that waited.
                if (!GetOverlappedResult(link->port, &overlapped, &moved, FALSE)) {
                    result = 0;
                    break;
                }
                if (!deliver(link, buffer, moved, nextRead)) {
                    result = 1;
                    break;
                }
                continue;
            }
            if (GetLastError() != ERROR_IO_PENDING) {
                result = 0;
                break;
            }
            pending = true;
        }
        const DWORD woken = WaitForMultipleObjects(2, waitSet, FALSE, READ_WAIT_MS);
        if (woken == WAIT_OBJECT_0) {
            pending = false;
            DWORD moved = 0;
            if (GetOverlappedResult(link->port, &overlapped, &moved, FALSE)) {
                if (!deliver(link, buffer, moved, nextRead)) {
                    result = 1;
                    break;
                }
            } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
                result = 0;
                break;
            }
        } else if (woken == WAIT_OBJECT_0 + 1) {
            result = 1;
            break;
        } else if (woken != WAIT_TIMEOUT) {
            Sleep(FAILED_WAIT_PAUSE_MS);
        }
    }
    if (pending) {
        abandonRead(link->port, &overlapped);
    }
    CloseHandle(overlapped.hEvent);
    return result;
}

bool serialLinkClose(SerialLink* link, ReaderEndHandler onReaderEnd, void* endContext) {
    if (link == nullptr) {
        return true;
    }
    link->stopRequested.store(true);
    SetEvent(link->stop);
    const bool onReaderThread = GetCurrentThreadId() == GetThreadId(link->reader);
    if (!onReaderThread &&
        WaitForSingleObject(link->reader, serialLinkCloseWaitMs()) == WAIT_OBJECT_0) {
        releaseLink(link);
        return true;
    }
    // The reader is stuck in its callback, or this is the callback: it releases the link
    // when it ends, unless it has ended in the meantime.
    if (link->handOver.closeGivesUp({onReaderEnd, endContext})) {
        WaitForSingleObject(link->reader, INFINITE);  // it only returns now
        releaseLink(link);
        return true;
    }
    return false;
}

}  // namespace tarnlink
