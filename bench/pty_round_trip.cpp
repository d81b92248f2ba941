// tarnlink-bench-pty-rtt [COUNT]: the round trip that a pseudo-terminal itself costs on this
// machine, to read the host's turnaround against. A "target" thread writes a 72-byte answer
// to the master; a "host" thread on the slave reads it one byte a read, as the serial link
// does, and answers 7 bytes in one write; the target stamps when it has read them. The
// figure is what the simulator's log calls the time from `out` to the next `in`, for a host
// that does no work of its own. Prints "pty_rtt n=.. med_us=.. p99_us=..".
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t ANSWER = 72;
constexpr size_t REQUEST = 7;

// Waits for input, then reads what the kernel holds in reads of at most `chunk` bytes.
bool readExactly(int fd, uint8_t* out, size_t size, size_t chunk) {
    size_t done = 0;
    while (done < size) {
        pollfd in{fd, POLLIN, 0};
        if (poll(&in, 1, 2000) <= 0) {
            return false;
        }
        int pending = 0;
        (void)ioctl(fd, FIONREAD, &pending);
        pending = std::max(pending, 1);
        while (pending > 0 && done < size) {
            const ssize_t n = ::read(fd, out + done, std::min(chunk, size - done));
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
            pending -= static_cast<int>(n);
        }
    }
    return true;
}

void makeRaw(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 4000;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("pty slave");
        return 1;
    }
    makeRaw(slave);
    makeRaw(master);

    std::thread host([&] {
        uint8_t answer[ANSWER];
        const uint8_t request[REQUEST] = {0xFE, 0x02, 0x4D, 0x02, 0x00, 0x00, 0x4F};
        for (int i = 0; i < count; ++i) {
            if (!readExactly(slave, answer, ANSWER, 1) ||
                ::write(slave, request, REQUEST) != static_cast<ssize_t>(REQUEST)) {
                return;
            }
        }
    });
    std::vector<double> rtt;
    uint8_t answer[ANSWER] = {0xFE};
    uint8_t request[REQUEST];
    for (int i = 0; i < count; ++i) {
        const auto out = Clock::now();
        if (::write(master, answer, ANSWER) != static_cast<ssize_t>(ANSWER) ||
            !readExactly(master, request, REQUEST, 256)) {
            break;
        }
        rtt.push_back(std::chrono::duration<double, std::micro>(Clock::now() - out).count());
    }
    host.join();
    ::close(slave);
    ::close(master);
    if (rtt.empty()) {
        std::fprintf(stderr, "no round trip completed\n");
        return 1;
    }
    std::sort(rtt.begin(), rtt.end());
    std::printf("pty_rtt n=%zu med_us=%.1f p99_us=%.1f\n", rtt.size(), rtt[rtt.size() / 2],
                rtt[std::min(rtt.size() - 1, rtt.size() * 99 / 100)]);
    return 0;
}
