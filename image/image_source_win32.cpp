#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "image/image_source.h"
#include "platform/utf8_file.h"
#include "platform/utf8_path.h"

namespace tarnlink {

std::FILE* openImageSource(const std::string& path, int* error) {
    if (path == "-") {
        // The standard input starts in text mode, which would turn CR LF into LF and end
        // at the first Ctrl-Z.
        _setmode(_fileno(stdin), _O_BINARY);
        return stdin;
    }
    // By its UTF-8 name: the ANSI calls would turn a character outside the code page
    // into '?' and open another file, or none.
    errno = 0;
    std::FILE* stream = openUtf8File(path.c_str(), "rb");
    if (stream == nullptr) {
        *error = errno;
        // Windows refuses to open a folder with "Permission denied"; say what it is.
        std::error_code ignored;
        if (std::filesystem::is_directory(pathFromUtf8(path), ignored)) {
            *error = EISDIR;
        }
        return nullptr;
    }
    return stream;
}

std::optional<uint64_t> regularFileSize(std::FILE* stream) {
    struct _stat64 info {};
    if (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(info.st_size);
}

}  // namespace tarnlink
