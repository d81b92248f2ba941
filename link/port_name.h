#pragma once
// The one rule by which a port is named, shared by the dialogs, the command lines and the
// link itself: COM port names mean the same port everywhere, device paths pass unchanged.

#include <optional>
#include <string>
#include <string_view>

namespace tarnlink {

/// How a platform names its serial devices.
enum class PortNaming {
    POSIX,    ///< COMn is /dev/ttyS(n-1); an absolute path ("/...") names a device
    WINDOWS,  ///< COMn is \\.\COMn; an absolute path ("\\...", "X:\...") names a device
};

/// The number n of a COM port name: "COMn" in any case, "n", or "\\.\COMn", where n is a
/// decimal number from 1 (leading zeros allowed; no sign, no blanks). No value for any other
/// text, for 0, and for a number beyond int.
std::optional<int> comPortNumber(std::string_view name);

/// The device path that `name` names under `naming`, or "" when it names no port. A name
/// that looks like a COM name but is not a valid one ("COM0", "COM3x", "\\.\COM-3") names
/// no port, rather than a file of that name. Applying it to its own result changes nothing.
std::string portDevicePathFor(PortNaming naming, std::string_view name);

}  // namespace tarnlink
