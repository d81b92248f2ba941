// The serial link on Windows: an overlapped COM handle, a reader thread that waits on its
// read event and the link's stop event, and writes that wait for their own event.
#include <windows.h>

#include <atomic>
#include <new>

#include "link/port_name.h"
#include "link/reader_calls_win32.h"
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
    PortLostHandler onPortLost = nullptr;
    void* lostContext = nullptr;
    ReaderHandOver handOver;
};

namespace {

constexpr DWORD READ_WAIT_MS = 1000;
constexpr DWORD FAILED_WAIT_PAUSE_MS = 1000;
constexpr DWORD READ_BUFFER_SIZE = 256;
// A 255-byte write takes 22 ms on the wire; a port that has not taken one in this time has
// stopped taking data (a target that no longer reads, a Bluetooth link gone quiet).
constexpr DWORD WRITE_TIMEOUT_MS = 2000;
// Reads that end with nothing, in a row: from the second on the reader pauses this long
// before the next, and after this many it gives the port up even if it still answers.
constexpr DWORD FRUITLESS_READ_PAUSE_MS = 50;
constexpr int FRUITLESS_READ_LIMIT = 20;

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
// size. A write ends after WRITE_TIMEOUT_MS whatever it has moved (serialLinkWrite also
// stops waiting then, for drivers and Wine, which do not keep this limit).
bool setTimeouts(HANDLE port) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = WRITE_TIMEOUT_MS;
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

DWORD clampReadSize(int32_t requested) {
    if (requested < 1) {
        return 1;
    }
    return requested > static_cast<int32_t>(READ_BUFFER_SIZE) ? READ_BUFFER_SIZE
                                                              : static_cast<DWORD>(requested);
}

// Cancels an outstanding read or write and waits until the system no longer owns its buffer
// and its event: neither may be touched once the caller has gone on.
void abandonIo(HANDLE port, OVERLAPPED* overlapped) {
    CancelIoEx(port, overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(port, overlapped, &ignored, TRUE);
}

DWORD WINAPI readerThreadMain(LPVOID parameter) {
    auto* link = static_cast<SerialLink*>(parameter);
    const uint32_t result = serialLinkReader(link);
    // An end nobody asked for leaves a transfer without answers: say so at once, or it
    // would wait out its retries and blame the target.
    if (result == 0 && !link->stopRequested.load() && link->onPortLost != nullptr) {
        link->onPortLost(link->lostContext);
    }
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

SerialLink* serialLinkOpen(const char* path, RxCallback callback, void* context,
                           PortLostHandler onPortLost, void* lostContext) {
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
    link->onPortLost = onPortLost;
    link->lostContext = lostContext;

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
    // A write that the time-out ended has moved fewer bytes than asked for, which counts as
    // a failure; so does one still going after the time-out, which is cancelled.
    // The count comes from GetOverlappedResult even when the write completes at once: the
    // one that WriteFile reports for an overlapped handle is not to be relied on.
    DWORD moved = 0;
    bool written = false;
    if (WriteFile(link->port, bytes, total, nullptr, &overlapped)) {
        written =
            GetOverlappedResult(link->port, &overlapped, &moved, FALSE) != FALSE && moved == total;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, WRITE_TIMEOUT_MS) == WAIT_OBJECT_0) {
            written = GetOverlappedResult(link->port, &overlapped, &moved, FALSE) != FALSE &&
                      moved == total;
        } else {
            abandonIo(link->port, &overlapped);
        }
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
    if (!TARNLINK_READER_CALL(ClearCommError)(port, &errors, &status) || status.cbInQue <= asked) {
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

// How one read ended: with `moved` bytes, cut short with none, or failed.
enum class ReadEnd { MOVED, CUT_SHORT, FAILED };

// A read is cut short by a cancel and, under Wine, times out when a write on the same port
// is cancelled: neither says anything of the port.
ReadEnd readEndOf(BOOL succeeded) {
    if (succeeded) {
        return ReadEnd::MOVED;
    }
    const DWORD error = GetLastError();
    return error == ERROR_OPERATION_ABORTED || error == ERROR_TIMEOUT ? ReadEnd::CUT_SHORT
                                                                      : ReadEnd::FAILED;
}

// Reads that end with nothing (cut short, or 0 bytes) one after another. Nothing in our
// time-outs ends a read empty, but drivers do, after an unplug or on resume: reissued at
// once they would spin a core and, completing before the wait, never let the stop be seen.
class FruitlessReads {
  public:
    enum class Verdict { READ_AGAIN, STOP, PORT_LOST };

    /// A read brought bytes: the port works.
    void reset() { m_count = 0; }

    /// A read brought nothing. The first is read again at once; from the second on, a
    /// port that no longer answers ClearCommError is gone, and so is one that has brought
    /// nothing for FRUITLESS_READ_LIMIT reads; otherwise the reader pauses, watching the stop.
    Verdict next(const SerialLink* link) {
        ++m_count;
        if (m_count < 2) {
            return Verdict::READ_AGAIN;
        }
        COMSTAT status{};
        DWORD errors = 0;
        if (!TARNLINK_READER_CALL(ClearCommError)(link->port, &errors, &status) ||
            m_count >= FRUITLESS_READ_LIMIT) {
            return Verdict::PORT_LOST;
        }
        if (WaitForSingleObject(link->stop, FRUITLESS_READ_PAUSE_MS) == WAIT_OBJECT_0) {
            return Verdict::STOP;
        }
        return Verdict::READ_AGAIN;
    }

  private:
    int m_count = 0;
};

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
    FruitlessReads fruitless;
    uint32_t result = 0;
    for (;;) {
        ReadEnd end = ReadEnd::FAILED;
        DWORD moved = 0;
        if (!pending) {
            // Reads that complete at once never reach the wait below, which sees the stop.
            if (link->stopRequested.load()) {
                result = 1;
                break;
            }
            if (TARNLINK_READER_CALL(ReadFile)(
                    link->port, buffer, nextReadSize(link->port, nextRead), nullptr, &overlapped)) {
                // Completed at once; the count is fetched as for a read that waited.
                end = readEndOf(TARNLINK_READER_CALL(GetOverlappedResult)(link->port, &overlapped,
                                                                          &moved, FALSE));
            } else if (GetLastError() == ERROR_IO_PENDING) {
                pending = true;
                continue;
            } else {
                end = readEndOf(FALSE);
            }
        } else {
            const DWORD woken = WaitForMultipleObjects(2, waitSet, FALSE, READ_WAIT_MS);
            if (woken == WAIT_OBJECT_0 + 1) {
                result = 1;
                break;
            }
            if (woken == WAIT_TIMEOUT) {
                continue;  // the read stays outstanding
            }
            if (woken != WAIT_OBJECT_0) {
                // The wait itself failed: pause, but let a stop end the reader now.
                if (WaitForSingleObject(link->stop, FAILED_WAIT_PAUSE_MS) == WAIT_OBJECT_0 ||
                    link->stopRequested.load()) {
                    result = 1;
                    break;
                }
                continue;
            }
            pending = false;
            end = readEndOf(
                TARNLINK_READER_CALL(GetOverlappedResult)(link->port, &overlapped, &moved, FALSE));
        }

        if (end == ReadEnd::FAILED) {
            break;  // the device is gone (access denied, bad command, removed) or broken
        }
        if (end == ReadEnd::MOVED && moved > 0) {
            fruitless.reset();
            if (!deliver(link, buffer, moved, nextRead)) {
                result = 1;
                break;
            }
            continue;
        }
        const FruitlessReads::Verdict verdict = fruitless.next(link);
        if (verdict != FruitlessReads::Verdict::READ_AGAIN) {
            result = verdict == FruitlessReads::Verdict::STOP ? 1 : 0;
            break;
        }
    }
    if (pending) {
        abandonIo(link->port, &overlapped);
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
