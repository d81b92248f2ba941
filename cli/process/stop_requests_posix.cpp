#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "cli/process/cancel_lines.h"
#include "cli/process/stop_requests.h"

namespace tarnlink {

namespace {

// The handler only writes the signal's number to this pipe; the watcher thread does the rest.
std::atomic<int> s_signalFd{-1};

extern "C" void onStopSignal(int signal) {
    const int savedErrno = errno;
    const int fd = s_signalFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

bool makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        fds[0] = fds[1] = -1;
        return false;
    }
    // Neither a signal handler nor the destructor may ever block on a full pipe.
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    return true;
}

void closePipe(int fds[2]) {
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0) {
            ::close(fds[i]);
            fds[i] = -1;
        }
    }
}

}  // namespace

struct StopWatcher::Impl {
    std::function<void(StopRequest)> callback;
    bool watchInput = false;
    int signalPipe[2] = {-1, -1};
    int quitPipe[2] = {-1, -1};
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    struct sigaction oldPipe {};
    sigset_t oldMask{};
    std::thread thread;

    void run();
    // False once the input has ended.
    bool readInput(std::string& pending);
};

bool StopWatcher::Impl::readInput(std::string& pending) {
    char chunk[256];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (got <= 0) {
        callback(StopRequest::INPUT);
        return false;
    }
    pending.append(chunk, static_cast<size_t>(got));
    for (int cancels = takeCancelLines(pending); cancels > 0; --cancels) {
        callback(StopRequest::INPUT);
    }
    return true;
}

void StopWatcher::Impl::run() {
    bool inputOpen = watchInput;
    std::string pending;
    for (;;) {
        pollfd fds[3] = {{quitPipe[0], POLLIN, 0}, {signalPipe[0], POLLIN, 0}, {-1, POLLIN, 0}};
        if (inputOpen) {
            fds[2].fd = STDIN_FILENO;
        }
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents & POLLIN) {
            unsigned char signal = 0;
            if (::read(signalPipe[0], &signal, 1) == 1) {
                callback(signal == SIGTERM ? StopRequest::TERMINATE : StopRequest::INTERRUPT);
            }
        }
        if (inputOpen && fds[2].revents != 0) {
            inputOpen = readInput(pending);
        }
    }
}

StopWatcher::StopWatcher(std::function<void(StopRequest)> callback, bool watchInput)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.callback = std::move(callback);
    impl.watchInput = watchInput;
    makePipe(impl.signalPipe);
    makePipe(impl.quitPipe);
    s_signalFd.store(impl.signalPipe[1]);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &impl.oldInt);
    ::sigaction(SIGTERM, &action, &impl.oldTerm);
    {
        // A reader that went away (a station, or the consumer of a crypt written to a
        // pipe) must not kill the program mid-block through SIGPIPE: the write fails with
        // EPIPE instead, and the transfer ends with a result and a report. A station's
        // child learns of its station's end from its input.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &impl.oldPipe);
    }
    // Only the watcher takes the signals: blocked here, in the thread that makes the watcher
    // and so in every thread it starts from now on (the transfer's worker and reader, a
    // station's readers), unblocked in the watcher alone. A handler run on a thread stuck in
    // a write to a full pipe would, under a sanitizer that delays handlers to its next call,
    // never run at all.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &impl.oldMask);
    impl.thread = std::thread([&impl, stops] {
        ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
        impl.run();
    });
}

StopWatcher::~StopWatcher() {
    Impl& impl = *m_impl;
    const char byte = 'q';
    [[maybe_unused]] ssize_t ignored = ::write(impl.quitPipe[1], &byte, 1);
    impl.thread.join();
    // A signal that came after the watcher's last look is taken by our handler when the
    // mask comes off, not by the default action that the old handlers may be.
    ::pthread_sigmask(SIG_SETMASK, &impl.oldMask, nullptr);
    ::sigaction(SIGINT, &impl.oldInt, nullptr);
    ::sigaction(SIGTERM, &impl.oldTerm, nullptr);
    ::sigaction(SIGPIPE, &impl.oldPipe, nullptr);
    s_signalFd.store(-1);
    closePipe(impl.signalPipe);
    closePipe(impl.quitPipe);
}

void quitAtOnce(StopRequest request, const char* text) {
    // The note goes out only if stderr can take it now: a full pipe that nobody reads (a
    // worker may already be stuck writing into it) must not hold up the quit.
    pollfd out{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) != 0) {
        [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    }
    // Die of the signal itself, so a calling shell sees an interrupted program.
    const int signal = request == StopRequest::TERMINATE ? SIGTERM : SIGINT;
    ::signal(signal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

}  // namespace tarnlink
