#pragma once
// The command line's notification target: it prints the engine's status texts (a live
// line on a terminal, plain lines otherwise) and hands the result to the main thread
// through a pipe, since postTransferDone must return at once.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/transfer_progress.h"
#include "transfer/notifications.h"

namespace tarnlink {

enum class OutputMode {
    LIVE,   ///< stderr is a terminal: one line, redrawn in place
    PLAIN,  ///< every status text on a line of its own; identical consecutive texts once
    QUIET,  ///< nothing until the result
};

class ConsoleTarget : public NotificationTarget {
  public:
    /// `out` is where the texts go (stderr); `resultFd` is the write end of the pipe that
    /// receives the two bytes 'R', result. Neither is owned.
    ConsoleTarget(TransferKind kind, OutputMode mode, std::FILE* out, int resultFd);

    void showStatus(const char* text) override;      ///< worker thread
    void setProgress(uint8_t position) override;     ///< worker thread
    void postTransferDone(uint8_t result) override;  ///< any thread, never waits

    /// Redraws the live line so rate and time left stay current. Main thread.
    void refresh();
    /// Prints `text` on a line of its own (below the live line). Main thread.
    void note(const std::string& text);
    /// The transfer ended: clears the live line and counts the last blocks. Main thread.
    void finish(uint8_t result);
    uint32_t blocksDone();

  private:
    double now() const;
    void drawLocked();

    OutputMode m_mode;
    std::FILE* m_out;
    int m_resultFd;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::mutex m_mutex;
    TransferProgress m_progress;
    std::string m_lastPlain;
    bool m_lineShown = false;
};

}  // namespace tarnlink
