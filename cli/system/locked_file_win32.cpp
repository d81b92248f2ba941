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

bool writeAll(HANDLE file, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - written, 1u << 20));
        if (!WriteFile(file, text.data() + written, chunk, &n, nullptr) || n == 0) {
            return false;
        }
        written += n;
    }
    return true;
}

bool readAll(HANDLE file, std::string& text) {
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(buffer, n);
    }
}

// Opens the file named in UTF-8 for `access` and locks all of it, also beyond its end.
// Shared for reading and writing: other processes use the same file, and the lock, not
// the sharing mode, keeps them apart. INVALID_HANDLE_VALUE with `*error` set.
HANDLE openLocked(const std::string& path, DWORD access, DWORD disposition, std::string* error) {
    // The wide call with the name as it is: the narrow one would take it in the ANSI code
    // page and could change a look-alike of the file named.
    const std::optional<std::wstring> widePath = utf16FromUtf8(path);
    if (!widePath) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        fail(error);
        return INVALID_HANDLE_VALUE;
    }
    const std::wstring systemPath = windowsFilePath(*widePath);
    HANDLE file = CreateFileW(systemPath.c_str(), access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failOpen(systemPath, error);
        return INVALID_HANDLE_VALUE;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        fail(error);
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

bool appendWithHeader(const std::string& path, const std::string& header, const std::string& text,
                      std::string* error) {
    // "Is it empty, then header and line" is one step against another station appending.
    FileHandle file(openLocked(path, GENERIC_WRITE, OPEN_ALWAYS, error));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    LARGE_INTEGER end{};
    if (!GetFileSizeEx(file.get(), &size) ||
        !SetFilePointerEx(file.get(), LARGE_INTEGER{}, &end, FILE_END)) {
        return fail(error);
    }
    if (!writeAll(file.get(), size.QuadPart == 0 ? header + text : text)) {
        return fail(error);
    }
    // A device such as NUL cannot be flushed and needs no flush.
    if (!FlushFileBuffers(file.get()) && GetLastError() != ERROR_INVALID_FUNCTION &&
        GetLastError() != ERROR_INVALID_HANDLE) {
        return fail(error);
    }
    return true;
}

bool changeLockedFile(const std::string& path, bool create, const FileChange& change,
                      std::string* error) {
    FileHandle file(openLocked(path, GENERIC_READ | GENERIC_WRITE,
                               create ? OPEN_ALWAYS : OPEN_EXISTING, error));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::string before;
    if (!readAll(file.get(), before)) {
        return fail(error);
    }
    std::string after = before;
    if (!change(after, error)) {
        return false;
    }
    if (after == before) {
        return true;
    }
    if (!SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
        !writeAll(file.get(), after) || !SetEndOfFile(file.get()) ||
        !FlushFileBuffers(file.get())) {
        return fail(error);
    }
    return true;
}

}  // namespace tarnlink
