#pragma once
// The window's small icon (title bar, task bar, Alt+Tab) drawn from the icon's own small
// image at the size the window's DPI asks for, not from the 32-pixel one scaled down.

#include <windows.h>

namespace tarnlink {

/// The width and height of a small icon (SM_CXSMICON) for `window` at its DPI; the
/// system's DPI on systems that know no DPI per window (before Windows 10 1607). UI thread.
int smallIconSize(HWND window);

/// The width and height of a small icon at `dpi` (96 is 100 %); the system's on systems
/// that know no DPI per window. UI thread.
int smallIconSizeForDpi(UINT dpi);

/// Icon resource `id` of the program, loaded at `size` × `size` pixels from its nearest
/// image. The caller destroys it (DestroyIcon). Null when it cannot be loaded. UI thread.
HICON loadIconOfSize(int id, int size);

}  // namespace tarnlink
