#include "ui/win32/window_text.h"

#include "platform/utf16_text.h"

namespace tarnlink {

std::string windowText(HWND window) {
    if (window == nullptr) {
        return {};
    }
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return utf8FromUtf16(text);
}

void setWindowText(HWND window, const char* text) {
    SetWindowTextW(window, utf16TextFromUtf8(text != nullptr ? text : "").c_str());
}

}  // namespace tarnlink
