#pragma once
// What the command line says and returns when a transfer has ended: the result's message,
// a line that explains a port or verify failure, and the exit status.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/report/line_figures.h"
#include "link/serial_link.h"

namespace tarnlink {

/// A load writes, verifies and enables an image; a verify only compares the flash with
/// one; a crypt reads the encrypted flash into a file.
enum class TransferKind : uint8_t { LOAD, VERIFY, CRYPT };

/// "load", "verify" or "crypt": the command's name. Static storage.
const char* transferKindName(TransferKind kind);

/// Exit status of the usage errors (unknown option, missing argument).
inline constexpr int EXIT_USAGE = 64;

/// 0 when a load or verify ended in SUCCESS or a crypt in CRYPT_UPLOADED; otherwise the result's
/// number, except a crypt ending in SUCCESS (0), which is no success and exits 1.
int exitStatusFor(TransferKind kind, uint8_t result);

/// Why the port at `devicePath` could not be opened: the kind of failure the link found
/// (serialLinkLastFailure), and for the rest the system's words for its error number
/// (serialLinkLastError). The same kinds read the same on every platform.
std::string portOpenFailureText(const std::string& devicePath, PortOpenFailure failure, int error);

/// The line under SERIALPORT_ERROR when the port went away in the middle of a transfer;
/// `port` as the user gave it.
std::string portLostText(const std::string& port);

/// Everything a transfer knows at its end that the report may need.
struct TransferOutcome {
    uint8_t result = 0;
    uint32_t blocks = 0;
    double seconds = 0;
    std::string devicePath;  ///< the device the port names, for a port failure
    /// Why the open failed, and the system's error number (SERIALPORT_ERROR only).
    PortOpenFailure portFailure = PortOpenFailure::NONE;
    int portError = 0;
    uint16_t packetIndex = 0;  ///< block in progress at the end
    uint16_t address = 0;      ///< its target word address
    std::string detail;        ///< why, when the runner knows better than the result alone
    LineFigures line;          ///< turnaround and efficiency of the line
};

/// The lines of the report, the result's message first, then at most one line that says
/// why: `detail` when set, otherwise for a port or verify failure what the outcome tells.
/// A result without a message reads "Result <n>".
std::vector<std::string> resultLines(const TransferOutcome& outcome);

}  // namespace tarnlink
