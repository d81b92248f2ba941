#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cli/system/terminal.h"
#include "platform/utf16_text.h"

namespace tarnlink {

namespace {

HANDLE consoleOf(std::FILE* stream) {
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    DWORD mode = 0;
    if (handle == -1 || !GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode)) {
        return nullptr;  // a file or a pipe: redirected
    }
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool isInteractiveTerminal(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::strcmp(term, "dumb") == 0) {
        return false;
    }
    const HANDLE console = consoleOf(stream);
    DWORD mode = 0;
    if (console == nullptr || !GetConsoleMode(console, &mode)) {
        return false;
    }
    // The live line moves the cursor with escape codes: only a console that takes them
    // (Windows 10 and later, once asked) gets it; an older one gets plain lines.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void writeText(std::FILE* stream, std::string_view text) {
    const HANDLE console = consoleOf(stream);
    if (console == nullptr) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // The C runtime would hand the console UTF-8 bytes to be read in its code page.
    std::fflush(stream);
    const std::wstring wide = utf16TextFromUtf8(text);
    for (size_t done = 0; done < wide.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 16384));
        if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) {
            return;
        }
        done += written;
    }
}

unsigned terminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE console = consoleOf(stream);
    if (console != nullptr && GetConsoleScreenBufferInfo(console, &info)) {
        const int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 1) {
            return static_cast<unsigned>(width);
        }
    }
    return 80;
}

}  // namespace tarnlink
