#pragma once
// Recognises the port name the dialog builds ("\\.\COMn"); shared by every platform backend.

#include <optional>
#include <string>

namespace tarnlink {

/// The number n of a "\\.\COMn" path (any case of "COM", n may be zero or negative), or no
/// value when `path` is not of that form. A number too large for an int counts as 0: no port.
std::optional<int> comPortNumber(const std::string& path);

}  // namespace tarnlink
