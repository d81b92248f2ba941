// The Linux side of a COM port for a Windows test under Wine: a pseudo-terminal mapped into
// the prefix as \\.\COM<n>, whose far end echoes every byte back, keeps every byte it got
// in a file and writes the port's line settings to another, as Linux sees them. The program
// steers it through files it makes in the same folder.
//
//   tarnlink_com_peer WINE_RUN PREFIX PROGRAM.exe [ARGS...]
//
// It runs WINE_RUN PREFIX PROGRAM.exe ARGS with TARNLINK_TEST_COM_PORT=COM<n> and
// TARNLINK_TEST_PEER_DIR=<a folder of its own> added to the environment; in that folder:
//   received.bin  every byte the program wrote to the port, in order
//   line.txt      the port's settings, one "name=value" a line, rewritten on each change
//   hold          while it exists, the peer reads nothing: the port's buffers fill up, as
//                 with a target that has stopped taking data
//   hangup        once it exists, the peer closes the pseudo-terminal's master: the port
//                 hangs up and its device node goes away, as an unplugged adapter's does
// The port starts out hostile (9600 7O2, XON/XOFF, CR/LF mapping, echo), so that what the
// program finds there is what it set itself. Exits with the program's status.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "tarnlink_com_peer: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(70);
}

int runAndWait(const std::vector<std::string>& args, char** env) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), env) != 0) {
        fail("cannot start " + args[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void setHostile(int master) {
    termios tio{};
    if (tcgetattr(master, &tio) != 0) {
        fail("tcgetattr");
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CLOCAL);
    tio.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    tio.c_iflag |= ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | PARMRK;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(master, TCSANOW, &tio) != 0) {
        fail("tcsetattr");
    }
}

unsigned baudOf(speed_t speed) {
    switch (speed) {
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

std::string describe(const termios& t) {
    const auto flag = [](tcflag_t flags, tcflag_t bit) { return (flags & bit) != 0 ? 1 : 0; };
    const tcflag_t size = t.c_cflag & CSIZE;
    const int bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    char text[512];
    std::snprintf(text, sizeof text,
                  "ispeed=%u\nospeed=%u\ndata_bits=%d\nparenb=%d\ncstopb=%d\ncrtscts=%d\n"
                  "ixon=%d\nixoff=%d\nicrnl=%d\ninlcr=%d\nigncr=%d\nistrip=%d\nparmrk=%d\n"
                  "opost=%d\nicanon=%d\necho=%d\nisig=%d\n",
                  baudOf(cfgetispeed(&t)), baudOf(cfgetospeed(&t)), bits, flag(t.c_cflag, PARENB),
                  flag(t.c_cflag, CSTOPB), flag(t.c_cflag, CRTSCTS), flag(t.c_iflag, IXON),
                  flag(t.c_iflag, IXOFF), flag(t.c_iflag, ICRNL), flag(t.c_iflag, INLCR),
                  flag(t.c_iflag, IGNCR), flag(t.c_iflag, ISTRIP), flag(t.c_iflag, PARMRK),
                  flag(t.c_oflag, OPOST), flag(t.c_lflag, ICANON), flag(t.c_lflag, ECHO),
                  flag(t.c_lflag, ISIG));
    return text;
}

// Whole or not at all: the program may read the file at any moment.
void writeAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        fail("cannot write " + temporary);
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::rename(temporary.c_str(), path.c_str());
}

void writeAll(int fd, const uint8_t* bytes, size_t size) {
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done < size && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tarnlink_com_peer WINE_RUN PREFIX PROGRAM [ARGS...]\n");
        return 64;
    }
    const std::string wineRun = argv[1];
    const std::string prefix = argv[2];
    // The prefix must exist before its dosdevices can take a link.
    (void)runAndWait({wineRun, prefix, "cmd", "/c", "exit", "0"}, environ);

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char slave[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, slave, sizeof slave) != 0) {
        fail("cannot open a pseudo-terminal");
    }
    setHostile(master);

    std::string dir = "/tmp/tarnlink-com-peer-XXXXXX";
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp == '/') {
        dir = std::string(tmp) + "/tarnlink-com-peer-XXXXXX";
    }
    if (mkdtemp(dir.data()) == nullptr) {
        fail("mkdtemp");
    }
    const std::string receivedPath = dir + "/received.bin";
    const std::string linePath = dir + "/line.txt";
    const std::string holdPath = dir + "/hold";
    const std::string hangUpPath = dir + "/hangup";
    const int received =
        ::open(receivedPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (received < 0) {
        fail("cannot create " + receivedPath);
    }

    // symlink fails when the name exists, so two peers at once never share a number.
    std::string link;
    std::string comName;
    for (int n = 20; n <= 255 && link.empty(); ++n) {
        const std::string candidate = prefix + "/dosdevices/com" + std::to_string(n);
        if (symlink(slave, candidate.c_str()) == 0) {
            link = candidate;
            comName = "COM" + std::to_string(n);
        }
    }
    if (link.empty()) {
        fail("no free COM number in " + prefix + "/dosdevices");
    }

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("TARNLINK_TEST_COM_PORT=", 0) != 0 &&
            text.rfind("TARNLINK_TEST_PEER_DIR=", 0) != 0) {
            env.push_back(text);
        }
    }
    env.push_back("TARNLINK_TEST_COM_PORT=" + comName);
    env.push_back("TARNLINK_TEST_PEER_DIR=" + dir);
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> args = {wineRun, prefix};
    for (int i = 3; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    std::vector<char*> childArgv;
    for (std::string& arg : args) {
        childArgv.push_back(arg.data());
    }
    childArgv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, childArgv[0], nullptr, nullptr, childArgv.data(), envp.data()) != 0) {
        fail("cannot start " + wineRun);
    }

    std::string lastLine;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        if (master >= 0 && ::access(hangUpPath.c_str(), F_OK) == 0) {
            ::close(master);
            master = -1;
        }
        if (master < 0 || ::access(holdPath.c_str(), F_OK) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        termios tio{};
        if (tcgetattr(master, &tio) == 0) {
            const std::string line = describe(tio);
            if (line != lastLine) {
                writeAtomically(linePath, line);
                lastLine = line;
            }
        }
        pollfd wait{master, POLLIN, 0};
        const int ready = poll(&wait, 1, 20);
        if (ready <= 0 || (wait.revents & POLLIN) == 0) {
            if (ready > 0) {
                // No slave open (a hang-up): it stays signalled, so pause instead of spinning.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            continue;
        }
        uint8_t buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            if (::write(received, buffer, static_cast<size_t>(n)) != n) {
                fail("cannot write " + receivedPath);
            }
            writeAll(master, buffer, static_cast<size_t>(n));
        }
    }

    ::unlink(link.c_str());
    if (master >= 0) {
        ::close(master);
    }
    ::close(received);
    ::unlink(receivedPath.c_str());
    ::unlink(linePath.c_str());
    ::unlink(holdPath.c_str());
    ::unlink(hangUpPath.c_str());
    ::rmdir(dir.c_str());
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
