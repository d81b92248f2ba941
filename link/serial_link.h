#pragma once
// The serial link: one open port, a reader thread that hands every received byte to a
// callback, blocking writes, and a close that stops the reader. It knows nothing of frames.

#include <cstdint>
#include <string>

namespace tarnlink {

/// One open serial port. Created by serialLinkOpen, released by serialLinkClose; opaque.
struct SerialLink;

/// Receive callback: `bytes` holds `count` (>= 1) received bytes; returns the size of the
/// next read, 1..256. Runs on the link's reader thread.
using RxCallback = int32_t (*)(const uint8_t* bytes, int32_t count, void* context);

/// Opens and sets up the port at `path` (a device path, or "\\.\COMn"), then starts the
/// reader, which may call `callback` before this returns. Null when the port cannot be
/// opened or set up; serialLinkLastError() then tells why. Any thread.
SerialLink* serialLinkOpen(const char* path, RxCallback callback, void* context);

/// Writes the low 8 bits of `count` bytes and returns once the port has taken them all.
/// False on error. One writing thread at a time.
bool serialLinkWrite(SerialLink* link, const uint8_t* bytes, uint32_t count);

/// Stops the reader (waits up to 20 s for it), releases the port and the record.
/// Never call it on the reader thread. A null link is ignored.
void serialLinkClose(SerialLink* link);

/// Body of the reader thread: 1 when the stop ended it, 0 after an error.
uint32_t serialLinkReader(SerialLink* link);

/// The device path that `path` names: "\\.\COMn" (n >= 1) maps to the platform's n-th
/// serial device; any other text is returned unchanged. Empty for COM0 and below.
std::string serialPortDevicePath(const std::string& path);

/// The system's error number of the last serialLinkOpen that failed on this thread
/// (0 when it failed for a reason the system did not report). Used only to explain a
/// failure to the user.
int serialLinkLastError();

}  // namespace tarnlink
