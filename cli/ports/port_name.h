#pragma once
// What the user types for --port, turned into the path the transfer engine opens.

#include <string>

namespace tarnlink {

/// The device that `text` names, by the link's one port-name rule (serialPortDevicePath):
/// "3", "COM3" (any case) and "\\.\COM3" name COM port 3; an absolute device path is kept.
/// Empty when the text names no port: "", "0", "COM0", "-3", "COM3x", a relative path.
std::string portPathFromArgument(const std::string& text);

}  // namespace tarnlink
