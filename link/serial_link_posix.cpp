// The serial link on POSIX: a terminal device in raw mode, a reader thread that polls the
// port and a stop descriptor, and writes that loop until the port has taken every byte.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "link/port_name.h"
#include "link/reader_calls_posix.h"
#include "link/reader_hand_over.h"
#include "link/serial_line_settings_posix.h"
#include "link/serial_link.h"
#include "link/serial_link_close_wait.h"
#include "link/serial_link_error.h"
#include "link/serial_low_latency.h"

namespace tarnlink {

struct SerialLink {
    int port = -1;
    int stop = -1;  // eventfd; readable once serialLinkClose has asked the reader to end
    std::atomic<bool> stopRequested{false};  // the same request, cheap to look at between bytes
    bool exclusive = false;                  // TIOCEXCL set by us, to be cleared on the way out
    std::thread reader;
    RxCallback callback = nullptr;
    void* context = nullptr;
    PortLostHandler onPortLost = nullptr;
    void* lostContext = nullptr;

    // The same request once more, for a reader that pauses while the system fails it and
    // cannot poll the stop descriptor.
    std::mutex stopMutex;
    std::condition_variable stopCond;

    // The close waits on these for the reader's end; the hand-over decides who releases.
    std::mutex endMutex;
    std::condition_variable endCond;
    bool readerEnded = false;  // guarded by endMutex
    ReaderHandOver handOver;
};

namespace {

constexpr int READ_WAIT_MS = 1000;
constexpr int FAILED_WAIT_PAUSE_MS = 1000;
constexpr int32_t READ_BUFFER_SIZE = 256;

bool isMissingModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// Closes the port and the stop descriptor and frees the record. The reader has ended.
void releaseLink(SerialLink* link) {
    if (link->port >= 0) {
        // The exclusive flag lives on the terminal, which a pseudo-terminal keeps while its
        // master is open: clear it, or the port stays closed to the next open.
        if (link->exclusive) {
            (void)ioctl(link->port, TIOCNXCL);
        }
        ::close(link->port);
    }
    if (link->stop >= 0) {
        ::close(link->stop);
    }
    delete link;
}

// What the system's answer to open() means to the user.
PortOpenFailure openFailureOf(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return PortOpenFailure::NO_SUCH_PORT;
        case EACCES:
        case EPERM:
            return PortOpenFailure::ACCESS_DENIED;
        case EBUSY:
            return PortOpenFailure::IN_USE;
        default:
            return PortOpenFailure::SYSTEM_ERROR;
    }
}

// Fails the open: records why, undoes everything acquired so far.
SerialLink* failOpen(SerialLink* link, PortOpenFailure failure, int error) {
    setSerialLinkLastFailure(failure, error);
    releaseLink(link);
    return nullptr;
}

// Pseudo-terminals and many USB adapters have no modem lines to set.
bool clearRts(int fd) {
    const int rts = TIOCM_RTS;
    return ioctl(fd, TIOCMBIC, &rts) == 0 || isMissingModemLines(errno);
}

int32_t clampReadSize(int32_t requested) {
    return std::clamp(requested, 1, READ_BUFFER_SIZE);
}

// Waits up to `ms` for the close to ask the reader to end; true when it has.
bool waitForStop(SerialLink* link, int ms) {
    std::unique_lock lock(link->stopMutex);
    return link->stopCond.wait_for(lock, std::chrono::milliseconds(ms),
                                   [link] { return link->stopRequested.load(); });
}

void readerThreadMain(SerialLink* link) {
    // An end nobody asked for leaves a transfer without answers: say so at once, or it
    // would wait out its retries and blame the target.
    if (serialLinkReader(link) == 0 && !link->stopRequested.load() && link->onPortLost != nullptr) {
        link->onPortLost(link->lostContext);
    }
    {
        std::lock_guard lock(link->endMutex);
        link->readerEnded = true;
        link->endCond.notify_all();
    }
    // After this the record may be gone, unless the close has given up on us.
    ReaderEndAction onEnd;
    if (link->handOver.readerEnds(onEnd)) {
        releaseLink(link);
        onEnd.run();
    }
}

}  // namespace

std::string serialPortDevicePath(const std::string& name) {
    return portDevicePathFor(PortNaming::POSIX, name);
}

SerialLink* serialLinkOpen(const char* path, RxCallback callback, void* context,
                           PortLostHandler onPortLost, void* lostContext) {
    if (path == nullptr || callback == nullptr) {
        setSerialLinkLastFailure(PortOpenFailure::SYSTEM_ERROR, EINVAL);
        return nullptr;
    }
    const std::string device = serialPortDevicePath(path);
    if (device.empty()) {
        setSerialLinkLastFailure(PortOpenFailure::NO_SUCH_PORT, ENOENT);
        return nullptr;
    }
    auto* link = new (std::nothrow) SerialLink;
    if (link == nullptr) {
        setSerialLinkLastFailure(PortOpenFailure::SYSTEM_ERROR, ENOMEM);
        return nullptr;
    }
    link->callback = callback;
    link->context = context;
    link->onPortLost = onPortLost;
    link->lostContext = lostContext;

    // Non-blocking only for the open itself: a modem port without carrier would hang it.
    link->port = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (link->port < 0) {
        return failOpen(link, openFailureOf(errno), errno);
    }
    // TIOCEXCL does not stop root; the advisory lock does, for every program that asks
    // for it. The lock comes before anything that touches the port: a second open that
    // fails must neither drop the holder's RTS nor clear its exclusive flag on its way out.
    if (flock(link->port, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return failOpen(
            link, error == EWOULDBLOCK ? PortOpenFailure::IN_USE : PortOpenFailure::SYSTEM_ERROR,
            error);
    }
    // Linux raises RTS and DTR on open; a board wired for reset sees RTS, so drop it before
    // anything else to keep that pulse as short as the system allows.
    if (!clearRts(link->port)) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, errno);
    }
    termios probe{};
    if (tcgetattr(link->port, &probe) != 0) {
        const int error = errno;
        return failOpen(
            link,
            error == ENOTTY ? PortOpenFailure::NOT_A_SERIAL_DEVICE : PortOpenFailure::SYSTEM_ERROR,
            error);
    }
    if (ioctl(link->port, TIOCEXCL) != 0) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, errno);
    }
    link->exclusive = true;
    const int flags = fcntl(link->port, F_GETFL);
    if (flags < 0 || fcntl(link->port, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, errno);
    }
    if (const int error = applyLineSettings(link->port); error != 0) {
        return failOpen(link, PortOpenFailure::SETTINGS_REFUSED, error);
    }
    // Again after the line settings: leaving a zero speed raises RTS and DTR once more.
    if (!clearRts(link->port)) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, errno);
    }
    requestLowLatency(link->port);

    link->stop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (link->stop < 0) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, errno);
    }
    try {
        link->reader = std::thread(readerThreadMain, link);
    } catch (const std::system_error& e) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, e.code().value());
    } catch (...) {
        return failOpen(link, PortOpenFailure::SYSTEM_ERROR, ENOMEM);
    }
    return link;
}

bool serialLinkWrite(SerialLink* link, const uint8_t* bytes, uint32_t count) {
    const size_t total = count & 0xFFu;
    if (link == nullptr || (bytes == nullptr && total > 0)) {
        return false;
    }
    // Done once the kernel has taken every byte: the boot protocol waits for the target's
    // answer anyway, so draining the UART here would only add a character time per frame.
    size_t done = 0;
    while (done < total) {
        const ssize_t n = ::write(link->port, bytes + done, total - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out{link->port, POLLOUT, 0};
            const int ready = poll(&out, 1, -1);  // no time limit of its own
            if (ready < 0 && errno != EINTR) {
                return false;
            }
            if (ready > 0 && (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

namespace {

// Hands the bytes of one kernel read to the callback, each call with exactly as many as the
// callback asked for last. False when a stop came in between: the rest is dropped, as the
// bytes still in the kernel are.
bool deliver(SerialLink* link, const uint8_t* bytes, size_t size, int32_t& nextRead) {
    size_t done = 0;
    while (done < size) {
        if (link->stopRequested.load()) {
            return false;
        }
        const size_t chunk = std::min(size - done, static_cast<size_t>(nextRead));
        nextRead =
            clampReadSize(link->callback(bytes + done, static_cast<int32_t>(chunk), link->context));
        done += chunk;
    }
    return !link->stopRequested.load();
}

}  // namespace

uint32_t serialLinkReader(SerialLink* link) {
    // The callback asks for one byte at a time; reading the port that way would cost a poll
    // and a read per byte. One read takes what the kernel holds and the bytes are handed
    // on in the sizes asked for, so the callback sees the same calls either way.
    uint8_t buffer[READ_BUFFER_SIZE];
    int32_t nextRead = 1;
    for (;;) {
        pollfd waitSet[2] = {{link->port, POLLIN, 0}, {link->stop, POLLIN, 0}};
        const int ready = TARNLINK_READER_CALL(poll)(waitSet, 2, READ_WAIT_MS);
        if (ready < 0) {
            // A poll that fails (out of memory) may fail again at once: pause, but a stop
            // must still end the reader now, not after the close has given up on it.
            if (errno != EINTR && waitForStop(link, FAILED_WAIT_PAUSE_MS)) {
                return 1;
            }
            continue;
        }
        if (ready == 0) {
            continue;
        }
        // A stop wins over bytes still in the kernel: the close would otherwise wait for a
        // chatty line to fall silent. Bytes already read were delivered before this wait.
        if ((waitSet[1].revents & POLLIN) != 0) {
            return 1;
        }
        const short portEvents = waitSet[0].revents;
        if ((portEvents & POLLIN) != 0) {
            const ssize_t n = ::read(link->port, buffer, sizeof buffer);
            if (n > 0) {
                if (!deliver(link, buffer, static_cast<size_t>(n), nextRead)) {
                    return 1;
                }
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                continue;
            }
            // 0 bytes after POLLIN, or EIO: the far end hung up or the adapter is gone.
            return 0;
        }
        if ((portEvents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return 0;  // a hang-up stays signalled; waiting again would spin
        }
        if ((waitSet[1].revents & (POLLERR | POLLNVAL)) != 0) {
            return 0;
        }
    }
}

bool serialLinkClose(SerialLink* link, ReaderEndHandler onReaderEnd, void* endContext) {
    if (link == nullptr) {
        return true;
    }
    {
        std::lock_guard lock(link->stopMutex);
        link->stopRequested.store(true);
    }
    link->stopCond.notify_all();
    const uint64_t one = 1;
    // An eventfd write of 1 cannot fail short of a counter overflow, which one close cannot reach.
    (void)!::write(link->stop, &one, sizeof one);

    const bool onReaderThread = std::this_thread::get_id() == link->reader.get_id();
    if (!onReaderThread) {
        std::unique_lock lock(link->endMutex);
        if (link->endCond.wait_for(lock, std::chrono::milliseconds(serialLinkCloseWaitMs()),
                                   [link] { return link->readerEnded; })) {
            lock.unlock();
            link->reader.join();
            releaseLink(link);
            return true;
        }
    }
    // The reader is stuck in its callback, or this is the callback. Freeing the port or the
    // record under it would let it read a closed (maybe reused) descriptor: it frees both
    // when it ends. The thread leaves the record first, as the reader may free it any time.
    std::thread reader = std::move(link->reader);
    if (link->handOver.closeGivesUp({onReaderEnd, endContext})) {
        reader.join();  // it ended meanwhile and only returns now
        releaseLink(link);
        return true;
    }
    reader.detach();
    return false;
}

}  // namespace tarnlink
