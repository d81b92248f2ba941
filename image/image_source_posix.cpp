#include <sys/stat.h>

#include <cerrno>

#include "image/image_source.h"

namespace tarnlink {

std::FILE* openImageSource(const std::string& path, int* error) {
    if (path == "-") {
        return stdin;
    }
    errno = 0;
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        *error = errno;
        return nullptr;
    }
    // A folder opens for reading here and fails only at the first read.
    struct stat info {};
    if (fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(stream);
        *error = EISDIR;
        return nullptr;
    }
    return stream;
}

std::optional<uint64_t> regularFileSize(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(info.st_size);
}

}  // namespace tarnlink
