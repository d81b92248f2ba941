#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/system/locked_file.h"

namespace tarnlink {

namespace {

class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);  // also releases the lock
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

bool fail(std::string* error) {
    if (error != nullptr) {
        *error = std::strerror(errno);
    }
    return false;
}

bool lockWhole(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool writeAllAt(int fd, const std::string& text, off_t at) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + written, text.size() - written,
                                   at + static_cast<off_t>(written));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

bool appendWithHeader(const std::string& path, const std::string& header, const std::string& text,
                      std::string* error) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        return fail(error);
    }
    // The lock makes "is it empty, then header and line" one step against another station
    // appending to the same file; O_APPEND alone would still let two headers in.
    if (!lockWhole(file.get())) {
        return fail(error);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return fail(error);
    }
    const std::string whole = info.st_size == 0 ? header + text : text;
    size_t written = 0;
    while (written < whole.size()) {
        const ssize_t n = ::write(file.get(), whole.data() + written, whole.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(error);
        }
        written += static_cast<size_t>(n);
    }
    if (::fdatasync(file.get()) != 0 && errno != EINVAL) {
        return fail(error);  // EINVAL: a file that cannot be synced, such as a pipe
    }
    return true;
}

bool changeLockedFile(const std::string& path, bool create, const FileChange& change,
                      std::string* error) {
    Descriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644));
    if (file.get() < 0 || !lockWhole(file.get())) {
        return fail(error);
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
    if (!writeAllAt(file.get(), after, 0) ||
        ::ftruncate(file.get(), static_cast<off_t>(after.size())) != 0 ||
        ::fdatasync(file.get()) != 0) {
        return fail(error);
    }
    return true;
}

}  // namespace tarnlink
