#include "platform/windows_path.h"

#include <windows.h>

namespace tarnlink {

namespace {

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The full form of `path`, or empty when the system cannot make one.
std::wstring fullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    for (int attempt = 0; attempt < 2 && size > 0; ++attempt) {
        std::wstring full(size, L'\0');
        const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
        if (length < size) {
            full.resize(length);
            return full;
        }
        size = length;  // the working folder changed between the two calls
    }
    return {};
}

}  // namespace

std::wstring windowsFilePath(const std::wstring& path) {
    if (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) {
        return path;
    }
    // A short name may still be long once the working folder is put in front of it.
    const std::wstring full = fullPath(path);
    if (full.size() < MAX_PATH) {
        return path;
    }
    if (startsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

}  // namespace tarnlink
