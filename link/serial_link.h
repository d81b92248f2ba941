#pragma once
// The serial link: one open port, a reader thread that hands every received byte to a
// callback, blocking writes, and a close that stops the reader. It knows nothing of frames.
//
// Ownership. Between serialLinkOpen and the end of its reader, the reader may run the
// callback at any moment, and with it everything the callback reaches (its context and
// whatever that leads to). serialLinkClose normally sees the reader end: when it returns
// true, all of that is the caller's again. A reader stuck in its callback cannot be stopped
// from outside, so after 20 s the close gives up and returns false: from then on the reader
// owns the record, the port, and everything its callback reaches. It releases the record
// and the port when the callback has returned, then calls the close's `onReaderEnd` on its
// own thread, which is where the caller releases what the callback could reach. Until that
// call the caller must leave all of it alive and untouched, and must not start another
// reader that would share it. A close called from the callback itself gives up at once in
// the same way.

#include <cstdint>
#include <string>

namespace tarnlink {

/// One open serial port. Created by serialLinkOpen, released by serialLinkClose (or by its
/// reader, when the close gave up on it); opaque.
struct SerialLink;

/// Receive callback: `bytes` holds `count` (>= 1) received bytes; returns the size of the
/// next read, 1..256. Runs on the link's reader thread.
using RxCallback = int32_t (*)(const uint8_t* bytes, int32_t count, void* context);

/// Called on a reader thread that a close gave up on, once the reader has ended and the
/// record and the port are released; it gets the close's `endContext`.
using ReaderEndHandler = void (*)(void* endContext);

/// Called once on the reader thread when the reader ends without being asked to: the port
/// went away (a hang-up, an adapter unplugged) or can no longer be read. Nothing more will
/// be received; the link stays open until serialLinkClose. Gets the open's `lostContext`.
using PortLostHandler = void (*)(void* lostContext);

/// Opens and sets up the port that `path` names (see serialPortDevicePath), then starts the
/// reader, which may call `callback` before this returns, and `onPortLost` (if not null)
/// when it loses the port. Null when the port cannot be opened or set up;
/// serialLinkLastFailure() and serialLinkLastError() then tell why. Any thread.
SerialLink* serialLinkOpen(const char* path, RxCallback callback, void* context,
                           PortLostHandler onPortLost = nullptr, void* lostContext = nullptr);

/// Writes the low 8 bits of `count` bytes and returns once the port has taken them all.
/// False on error, and on Windows when the port has not taken them within 2 s (a port
/// that stops taking data must not hold the worker for good). One writing thread at a time.
bool serialLinkWrite(SerialLink* link, const uint8_t* bytes, uint32_t count);

/// Stops the reader, waiting up to 20 s for it, then releases the port and the record and
/// returns true. When the reader is still in its callback after 20 s, or when this runs on
/// the reader thread (inside the callback), it returns false at once and leaves the rest to
/// the reader, which calls `onReaderEnd(endContext)` (if not null) when it has ended; the
/// handler is never called when the close returns true. A null link is ignored (true).
/// Any thread; the link must not be used after this call.
bool serialLinkClose(SerialLink* link, ReaderEndHandler onReaderEnd = nullptr,
                     void* endContext = nullptr);

/// Body of the reader thread: 1 when the stop ended it, 0 after an error or a lost port.
uint32_t serialLinkReader(SerialLink* link);

/// The device path that a port name names on this platform, or "" when it names no port:
/// "COM3", "com3", "3" and "\\.\COM3" name COM port 3 (on Linux /dev/ttyS2, on Windows
/// \\.\COM3); an absolute device path is used as it is. serialLinkOpen applies it to its
/// path; the command lines apply it to what the user typed.
std::string serialPortDevicePath(const std::string& name);

/// Why the last serialLinkOpen that failed on this thread failed.
enum class PortOpenFailure : uint8_t {
    NONE,                 ///< no open has failed on this thread
    NO_SUCH_PORT,         ///< the name names no port, or no device is there
    IN_USE,               ///< another program or an open link holds the port
    ACCESS_DENIED,        ///< the user may not open it (Linux: not in the dialout group)
    NOT_A_SERIAL_DEVICE,  ///< it opened, but it is a file or a device without line settings
    SETTINGS_REFUSED,     ///< the port did not take raw 115200 8N1
    SYSTEM_ERROR,         ///< anything else; serialLinkLastError() has the number
};

/// The reason of the last serialLinkOpen that failed on this thread. Any thread.
PortOpenFailure serialLinkLastFailure();

/// The system's error number (errno, or GetLastError on Windows) of the last serialLinkOpen
/// that failed on this thread; 0 when the system reported none. For the user's eyes only.
int serialLinkLastError();

}  // namespace tarnlink
