#include <windows.h>

#include "cli/system/system_error_text.h"

namespace tarnlink {

std::string systemErrorText(int error) {
    char buffer[512];
    DWORD size =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), buffer,
                       sizeof buffer, nullptr);
    if (size == 0) {
        // Not every system has the English texts.
        size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    }
    std::string text(buffer, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(error) : text;
}

}  // namespace tarnlink
