#include <windows.h>

#include <algorithm>
#include <optional>

#include "cli/system/locked_file.h"
#include "cli/system/system_error_text.h"
#include "platform/utf16_text.h"
#include "platform/windows_path.h"

namespace tarnlink {

namespace {

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle() {
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);  // also releases the lock
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return m_handle; }

  private:
    HANDLE m_handle;
};

bool fail(std::string* error) {
    if (error != nullptr) {
        *error = systemErrorText(static_cast<int>(GetLastError()));
    }
    return false;
}

// Windows answers "access denied" for a folder: the words Linux uses say what is wrong.
bool failOpen(const std::wstring& path, std::string* error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (error != nullptr) {
            *error = "Is a directory";
        }
        return false;
    }
    return fail(error);
}

}  // namespace

bool appendWithHeader(const std::string& path, const std::string& header, const std::string& text,
                      std::string* error) {
    // The wide call with the name as it is: the narrow one would take it in the ANSI code
    // page and could append to a look-alike of the file named.
    const std::optional<std::wstring> widePath = utf16FromUtf8(path);
    if (!widePath) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return fail(error);
    }
    const std::wstring systemPath = windowsFilePath(*widePath);
    // Shared for reading and writing: another station appends to the same file, and the
    // lock, not the sharing mode, keeps the two apart.
    FileHandle file(CreateFileW(systemPath.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return failOpen(systemPath, error);
    }
    // The whole file, also beyond its end, locked: "is it empty, then header and line" is
    // one step against another station appending to it.
    OVERLAPPED whole{};
    if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        return fail(error);
    }
    LARGE_INTEGER size{};
    LARGE_INTEGER end{};
    if (!GetFileSizeEx(file.get(), &size) ||
        !SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END)) {
        return fail(error);
    }
    const std::string all = size.QuadPart == 0 ? header + text : text;
    size_t written = 0;
    while (written < all.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(all.size() - written, 1u << 20));
        if (!WriteFile(file.get(), all.data() + written, chunk, &n, nullptr) || n == 0) {
            return fail(error);
        }
        written += n;
    }
    // A device such as NUL cannot be flushed and needs no flush.
    if (!FlushFileBuffers(file.get()) && GetLastError() != ERROR_INVALID_FUNCTION &&
        GetLastError() != ERROR_INVALID_HANDLE) {
        return fail(error);
    }
    return true;
}

}  // namespace tarnlink
