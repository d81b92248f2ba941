#pragma once
// The texts of windows and controls as the programs hold them, UTF-8, through the system's
// wide calls: a path or a name in any script is shown and read back as it is, whatever
// the user's ANSI code page.

#include <windows.h>

#include <string>

namespace tarnlink {

/// The whole text of `window` (any length) in UTF-8; empty for a null window. Any thread.
std::string windowText(HWND window);

/// Sets the text of `window` to `text` (UTF-8; what is not UTF-8 shows as U+FFFD); a null
/// `text` empties it. From another thread it returns once the window has its copy. Any
/// thread.
void setWindowText(HWND window, const char* text);

}  // namespace tarnlink
