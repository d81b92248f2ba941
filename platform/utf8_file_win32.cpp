#include <cerrno>
#include <string>

#include "platform/utf16_text.h"
#include "platform/utf8_file.h"
#include "platform/windows_path.h"

namespace tarnlink {

// msvcrt's fopen reads the name in the ANSI code page: a character outside it would
// reach the system as '?' or as a look-alike. _wfopen takes the name as it is.
std::FILE* openUtf8File(const char* path, const char* mode) {
    const std::optional<std::wstring> widePath = utf16FromUtf8(path);
    const std::optional<std::wstring> wideMode = utf16FromUtf8(mode);
    if (!widePath || !wideMode) {
        errno = EILSEQ;
        return nullptr;
    }
    return _wfopen(windowsFilePath(*widePath).c_str(), wideMode->c_str());
}

}  // namespace tarnlink
