#include "sim/sim_pty.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace tarnlink::sim {
namespace {

bool makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

SimPty::~SimPty() { close(); }

bool SimPty::open() {
    close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128] = {};
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, name, sizeof name) != 0) {
        close();
        return false;
    }
    m_slavePath = name;
    // Holding a slave descriptor of our own keeps the master readable while no host has the
    // port open (the master reports EIO otherwise) and keeps the raw settings between hosts.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0 || !makeRaw(m_slave) || !makeRaw(m_master)) {
        close();
        return false;
    }
    return true;
}

void SimPty::close() {
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    m_slavePath.clear();
}

int SimPty::unreadByHost() const {
    // Our own slave descriptor shares the input queue the host reads from.
    int pending = 0;
    if (m_slave < 0 || ioctl(m_slave, FIONREAD, &pending) != 0) {
        return 0;
    }
    return pending;
}

}  // namespace tarnlink::sim
