#include "cli/interrupt_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace tarnlink {

namespace {

sigset_t interruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

[[noreturn]] void quitAtOnce(int signal) {
    // The note goes out only if stderr can take it now: a full pipe must not hold up the
    // quit.
    static const char text[] = "\nInterrupted again: quitting without waiting for the transfer\n";
    pollfd out{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) != 0) {
        [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
    }
    // Die of the signal itself, so that a calling shell sees which one (130, 143). It is
    // blocked in every thread: unblocked here, it ends the process on this thread.
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

}  // namespace

InterruptWatcher::InterruptWatcher(int wakeFd) : m_wakeFd(wakeFd) {
    const sigset_t signals = interruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, &m_oldMask);
    m_signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_signalFd >= 0 && m_stopFd >= 0) {
        m_thread = std::thread([this] { watch(); });
    }
}

InterruptWatcher::~InterruptWatcher() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(m_stopFd, &one, sizeof one);
        m_thread.join();
    }
    // A signal that came after the last look is taken here, not left to kill the program
    // once the mask is restored.
    signalfd_siginfo info{};
    while (m_signalFd >= 0 && ::read(m_signalFd, &info, sizeof info) == sizeof info) {
    }
    for (int fd : {m_signalFd, m_stopFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}

void InterruptWatcher::watch() {
    int interrupts = 0;
    for (;;) {
        pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            continue;  // EINTR
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        signalfd_siginfo info{};
        if (::read(m_signalFd, &info, sizeof info) != sizeof info) {
            continue;
        }
        if (++interrupts >= 2) {
            quitAtOnce(static_cast<int>(info.ssi_signo));
        }
        const char byte = 'I';
        [[maybe_unused]] ssize_t ignored = ::write(m_wakeFd, &byte, 1);
    }
}

}  // namespace tarnlink
