#include "link/serial_line_settings_posix.h"

#include <cerrno>

namespace tarnlink {

namespace {

// Every input flag that drops, maps, marks or stops on a byte value or a line condition.
constexpr tcflag_t BYTE_ALTERING_INPUT = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP |
                                         INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY;
constexpr tcflag_t LOCAL_PROCESSING = ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;

}  // namespace

bool lineSettingsTook(const termios& tio) {
    return cfgetispeed(&tio) == B115200 && cfgetospeed(&tio) == B115200 &&
           (tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) == CS8 &&
           (tio.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) &&
           (tio.c_iflag & BYTE_ALTERING_INPUT) == 0 && (tio.c_oflag & OPOST) == 0 &&
           (tio.c_lflag & LOCAL_PROCESSING) == 0 && tio.c_cc[VMIN] == 1 && tio.c_cc[VTIME] == 0;
}

int applyLineSettings(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return errno;
    }
    // Frames are not escaped: every byte value must pass untouched, so no CR/LF mapping,
    // no XON/XOFF, no parity marking or stripping, no break or echo handling.
    cfmakeraw(&tio);
    tio.c_iflag &= ~BYTE_ALTERING_INPUT;
    tio.c_lflag &= ~LOCAL_PROCESSING;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    // A read waits for at least one byte; the reader polls before it reads anyway.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B115200) != 0 || cfsetospeed(&tio, B115200) != 0) {
        return errno;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return errno;
    }
    termios applied{};
    if (tcgetattr(fd, &applied) != 0) {
        return errno;
    }
    return lineSettingsTook(applied) ? 0 : EINVAL;
}

}  // namespace tarnlink
