#pragma once
// Opening the file an image is read from: the one place where an image's path is opened,
// so that a platform's way with names (wide characters on Windows) lives in one spot.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace tarnlink {

/// Opens `path` for reading in binary mode; "-" is the standard input (put into binary
/// mode where the platform has one). Null with `*error` set to an errno value when it
/// cannot be opened; a folder gives EISDIR on every platform. Close with closeImageSource.
std::FILE* openImageSource(const std::string& path, int* error);

/// The size of `stream` when it is a regular file, which a "too large" can name; none for a
/// pipe, a FIFO or a device.
std::optional<uint64_t> regularFileSize(std::FILE* stream);

/// Closes what openImageSource opened; leaves the standard input open.
inline void closeImageSource(std::FILE* stream) {
    if (stream != nullptr && stream != stdin) {
        std::fclose(stream);
    }
}

}  // namespace tarnlink
