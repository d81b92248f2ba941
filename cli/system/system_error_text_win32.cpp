#include <windows.h>

#include "cli/system/system_error_text.h"
#include "platform/utf16_text.h"

namespace tarnlink {

namespace {

// The wide call: the narrow one gives the text in the ANSI code page, which is not UTF-8
// and would reach the JSON and the console as U+FFFD (a Polish or Czech system's texts).
std::wstring messageText(DWORD error, DWORD language) {
    wchar_t buffer[512];
    const DWORD size =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       language, buffer, sizeof buffer / sizeof buffer[0], nullptr);
    return std::wstring(buffer, size);
}

}  // namespace

std::string systemErrorTextIn(int error, unsigned language) {
    std::string text = utf8FromUtf16(messageText(static_cast<DWORD>(error), language));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? "error " + std::to_string(error) : text;
}

std::string systemErrorText(int error) {
    const std::string english = systemErrorTextIn(error, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT));
    // Not every system has the English texts: then the user's own language.
    return english.rfind("error ", 0) == 0 ? systemErrorTextIn(error, 0) : english;
}

}  // namespace tarnlink
