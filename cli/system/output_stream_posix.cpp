#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/system/output_stream.h"

namespace tarnlink {

std::FILE* openStandardOutputForBytes() {
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return stream;
}

PipeOutput openNamedPipeOutput(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
        return {};
    }
    // A write-only open that must not wait fails with ENXIO exactly when no reader is there.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {nullptr, errno == ENXIO ? "no program reads from the named pipe"
                                        : std::string(std::strerror(errno))};
    }
    // From here on a write waits for the reader, as on any pipe.
    const int flags = ::fcntl(fd, F_GETFL);
    std::FILE* stream = nullptr;
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
        stream = ::fdopen(fd, "wb");
    }
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        return {nullptr, std::strerror(error)};
    }
    return {stream, {}};
}

}  // namespace tarnlink
