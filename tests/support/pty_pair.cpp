#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace tarnlink::test {

PtyPair::PtyPair() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        throw std::runtime_error("cannot open a pseudo-terminal");
    }
    char name[128] = {};
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        throw std::runtime_error("ptsname_r failed");
    }
    m_slavePath = name;
    // Raw on the master side too, so no byte is translated on its way to the test.
    termios tio{};
    if (tcgetattr(m_master, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair() {
    closeMaster();
}

void PtyPair::closeMaster() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

void PtyPair::setHostileLineSettings() const {
    termios tio = lineSettings();
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CLOCAL);
    tio.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    tio.c_iflag |= IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                   IXON | IXOFF | IXANY;
    tio.c_oflag |= OPOST | ONLCR | OCRNL;
    tio.c_lflag |= ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 5;
    if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0 ||
        tcsetattr(m_master, TCSANOW, &tio) != 0) {
        throw std::runtime_error("cannot set the pseudo-terminal's line settings");
    }
}

termios PtyPair::lineSettings() const {
    termios tio{};
    if (tcgetattr(m_master, &tio) != 0) {
        throw std::runtime_error("tcgetattr on the pty master failed");
    }
    return tio;
}

void PtyPair::write(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            throw std::runtime_error("write to pty master failed");
        }
        done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::read(size_t count, int timeoutMs) const {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0 || !(pfd.revents & POLLIN)) {
            break;
        }
        uint8_t buffer[512];
        const ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

}  // namespace tarnlink::test
