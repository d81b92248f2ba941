#pragma once
// The port path that a start hands to the transfer engine, built from the text of the
// dialog's port field.

#include <string>
#include <string_view>

namespace tarnlink {

/// The port number as strtol reads `text` in base 10 (blanks skipped, optional sign, digits
/// up to the first other character, 0 without digits), clamped to the signed 32-bit range.
int portNumberFromText(std::string_view text);

/// "\\.\COM<n>" with n from portNumberFromText; a text that starts with '/' after leading
/// blanks is a device path and comes back from the '/' on, unchanged.
std::string portPathFromText(std::string_view text);

}  // namespace tarnlink
