#pragma once
// Ctrl-C and SIGTERM while a transfer runs, taken by a thread of their own from a signalfd
// rather than by a signal handler: the first asks the main thread to cancel, the second
// quits at once, whatever the other threads are stuck in (a worker blocked on a full stderr
// pipe while it holds the console's lock, the main thread waiting for that lock).

#include <signal.h>

#include <thread>

namespace tarnlink {

class InterruptWatcher {
  public:
    /// Blocks SIGINT and SIGTERM in the calling thread (threads started after this inherit
    /// that, so the signals reach only the watcher) and starts watching. The first signal
    /// writes the byte 'I' to `wakeFd`, which is not owned. Main thread, before the transfer.
    explicit InterruptWatcher(int wakeFd);
    /// Stops watching, takes a signal still pending and restores the signal mask.
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  private:
    void watch();

    int m_wakeFd;
    int m_signalFd = -1;
    int m_stopFd = -1;
    sigset_t m_oldMask{};
    std::thread m_thread;
};

}  // namespace tarnlink
