// The serial link on Windows: an overlapped COM handle, a reader thread that waits on its
// read event and the link's stop event, and writes that wait for their own event.
#include <windows.h>

#include <atomic>
#include <new>

#include "link/com_port_name.h"
#include "link/serial_link.h"
#include "link/serial_link_error.h"

namespace tarnlink {

struct SerialLink {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE reader = nullptr;
    HANDLE stop = nullptr;  // manual-reset; only serialLinkClose sets it
    RxCallback callback = nullptr;
    void* context = nullptr;
    // Set by the reader when it has ended and by a close that gave up waiting for it:
    // whichever of the two comes second releases the link.
    std::atomic<bool> lastOneOut{false};
};

namespace {

constexpr DWORD READ_WAIT_MS = 1000;
constexpr DWORD FAILED_WAIT_PAUSE_MS = 1000;
constexpr DWORD CLOSE_WAIT_MS = 20000;
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

SerialLink* failOpen(SerialLink* link, DWORD error) {
    setSerialLinkLastError(static_cast<int>(error));
    releaseLink(link);
    return nullptr;
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
    if (link->lastOneOut.exchange(true)) {
        // The close gave up on us: the link is ours to release. Our own thread handle
        // stays valid until the thread has ended, so closing it here is safe.
        releaseLink(link);
    }
    return result;
}

}  // namespace

std::string serialPortDevicePath(const std::string& path) {
    const std::optional<int> number = comPortNumber(path);
    if (number && *number < 1) {
        return {};
    }
    return path;
}

SerialLink* serialLinkOpen(const char* path, RxCallback callback, void* context) {
    if (path == nullptr || callback == nullptr) {
        setSerialLinkLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string device = serialPortDevicePath(path);
    if (device.empty()) {
        setSerialLinkLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    auto* link = new (std::nothrow) SerialLink;
    if (link == nullptr) {
        setSerialLinkLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    link->callback = callback;
    link->context = context;

    // No sharing: the port is ours alone while the link lives.
    link->port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (link->port == INVALID_HANDLE_VALUE) {
        return failOpen(link, GetLastError());
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(link->port, &dcb)) {
        return failOpen(link, GetLastError());
    }
    (void)BuildCommDCBA("baud=115200 parity=N data=8 stop=1", &dcb);
    dcb.fOutxCtsFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!SetCommState(link->port, &dcb)) {
        return failOpen(link, GetLastError());
    }
    link->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (link->stop == nullptr) {
        return failOpen(link, GetLastError());
    }
    link->reader = CreateThread(nullptr, 0, readerThreadMain, link, 0, nullptr);
    if (link->reader == nullptr) {
        return failOpen(link, GetLastError());
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
    bool written = false;
    if (WriteFile(link->port, bytes, total, nullptr, &overlapped)) {
        written = true;
    } else if (GetLastError() == ERROR_IO_PENDING &&
               WaitForSingleObject(overlapped.hEvent, INFINITE) == WAIT_OBJECT_0) {
        DWORD moved = 0;
        written = GetOverlappedResult(link->port, &overlapped, &moved, FALSE) != FALSE;
    }
    CloseHandle(overlapped.hEvent);
    return written;
}

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
            ResetEvent(overlapped.hEvent);
            if (ReadFile(link->port, buffer, nextRead, &moved, &overlapped)) {
                if (moved > 0) {
                    nextRead = clampReadSize(
                        link->callback(buffer, static_cast<int32_t>(moved), link->context));
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
            DWORD moved = 0;
            if (GetOverlappedResult(link->port, &overlapped, &moved, FALSE)) {
                if (moved > 0) {
                    nextRead = clampReadSize(
                        link->callback(buffer, static_cast<int32_t>(moved), link->context));
                }
            } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
                pending = false;
                result = 0;
                break;
            }
            pending = false;
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

void serialLinkClose(SerialLink* link) {
    if (link == nullptr) {
        return;
    }
    SetEvent(link->stop);
    if (GetCurrentThreadId() != GetThreadId(link->reader) &&
        WaitForSingleObject(link->reader, CLOSE_WAIT_MS) == WAIT_OBJECT_0) {
        releaseLink(link);
        return;
    }
    // The reader is still running (stuck in its callback, or this is its own thread):
    // it releases the link when it ends, unless it has ended in the meantime.
    if (link->lastOneOut.exchange(true)) {
        releaseLink(link);
    }
}

}  // namespace tarnlink
