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

}  // namespace

bool appendWithHeader(const std::string& path, const std::string& header, const std::string& text,
                      std::string* error) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        return fail(error);
    }
    // The lock makes "is it empty, then header and line" one step against another station
    // appending to the same file; O_APPEND alone would still let two headers in.
    while (::flock(file.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return fail(error);
        }
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

}  // namespace tarnlink
