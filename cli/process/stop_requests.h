#pragma once
// What asks a running command to stop: Ctrl-C, SIGTERM (on Windows the console's close),
// and for a station's child process a line "cancel" or the end of its standard input,
// which is how the station reaches it on every platform.

#include <functional>
#include <memory>

namespace tarnlink {

enum class StopRequest {
    INTERRUPT,  ///< Ctrl-C (SIGINT)
    TERMINATE,  ///< SIGTERM, or the console window closing
    INPUT,      ///< "cancel" on standard input, or its end (the station went away)
};

/// Watches for stop requests while it lives and hands each to `callback` on a thread of
/// its own (never inside a signal handler). The callback must not wait for a lock that
/// output may hold: a second request must reach it while the first is still printing.
/// One watcher at a time; create and destroy it on the main thread, before the threads
/// that it is to shield from the signals (they inherit its blocking of them).
class StopWatcher {
  public:
    StopWatcher(std::function<void(StopRequest)> callback, bool watchInput);
    ~StopWatcher();  ///< stops watching and restores the default handling
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

    struct Impl;

  private:
    std::unique_ptr<Impl> m_impl;
};

/// Writes `text` straight to stderr, past every lock and buffer, and ends the process the
/// way `request` ends it by default: INTERRUPT as killed by SIGINT (130 in a shell),
/// TERMINATE as killed by SIGTERM (143); on Windows both with STATUS_CONTROL_C_EXIT, the
/// status of a console program that Ctrl-C or the console's close ended. Any thread.
[[noreturn]] void quitAtOnce(StopRequest request, const char* text);

}  // namespace tarnlink
