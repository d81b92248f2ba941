#pragma once
// What the user types for --port, turned into the path the transfer engine opens.

#include <string>

namespace tarnlink {

/// "3" and "COM3" (any case) become "\\.\COM3", which the serial link maps to a device;
/// any other text is a device path and is returned unchanged. Empty when the text names
/// no port: "", "0", "COM0", or a COM number above 9999.
std::string portPathFromArgument(const std::string& text);

}  // namespace tarnlink
