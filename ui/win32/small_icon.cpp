#include "ui/win32/small_icon.h"

namespace tarnlink {

namespace {

// Both calls came with Windows 10 1607. Older systems take the manifest's system-aware
// fallback: every window there has the system's DPI, and no DPI change reaches it.
template <typename Function>
Function user32Function(const char* name) {
    static HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 != nullptr ? reinterpret_cast<Function>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(user32, name)))
                             : nullptr;
}

}  // namespace

int smallIconSizeForDpi(UINT dpi) {
    using ForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = user32Function<ForDpi>("GetSystemMetricsForDpi");
    if (forDpi != nullptr) {
        return forDpi(SM_CXSMICON, dpi);
    }
    return GetSystemMetrics(SM_CXSMICON);
}

int smallIconSize(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = user32Function<DpiForWindow>("GetDpiForWindow");
    const UINT dpi = dpiForWindow != nullptr && window != nullptr ? dpiForWindow(window) : 0;
    return dpi != 0 ? smallIconSizeForDpi(dpi) : GetSystemMetrics(SM_CXSMICON);
}

HICON loadIconOfSize(int id, int size) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                         IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

}  // namespace tarnlink
