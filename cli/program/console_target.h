#pragma once
// The command line's notification target: it prints the engine's status texts (a live
// line on a terminal, plain lines otherwise), writes the --events stream, and hands the
// result to the main thread, since postTransferDone must return at once.

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "cli/report/transfer_progress.h"
#include "transfer/notifications.h"

namespace tarnlink {

struct ConsoleSettings {
    TransferKind kind = TransferKind::LOAD;
    OutputMode mode = OutputMode::PLAIN;
    bool verbose = false;         ///< every status text, not only phase changes and 10 % steps
    std::FILE* text = stderr;     ///< where the texts go
    std::FILE* events = nullptr;  ///< where the JSON Lines events go; null: none
    /// false: only the status events a station needs to show the board (phase changes,
    /// 10 % steps, four a second at most otherwise) and no progress events.
    bool everyEvent = true;
    std::string port;  ///< "port" of every event
};

class ConsoleTarget : public NotificationTarget {
  public:
    /// `onResult` gets the result from postTransferDone; it must return at once.
    ConsoleTarget(ConsoleSettings settings, std::function<void(uint8_t)> onResult);

    void showStatus(const char* text) override;      ///< worker thread
    void setProgress(uint8_t position) override;     ///< worker thread
    void postTransferDone(uint8_t result) override;  ///< any thread, never waits

    /// The image's size, for the rate. Main thread, before the transfer starts.
    void setImageBytes(uint64_t bytes);
    /// Redraws the live line so rate and time left stay current. Main thread.
    void refresh();
    /// Prints `text` on a line of its own (above the live line). Main thread.
    void note(const std::string& text);
    /// The transfer ended: clears the live line and counts the last blocks. Main thread.
    void finish(uint8_t result);
    uint32_t blocksDone();
    /// Seconds since this target was made, which is when the transfer began.
    double elapsed() const;

  private:
    void drawLocked(double now);
    void clearLineLocked();

    ConsoleSettings m_settings;
    std::function<void(uint8_t)> m_onResult;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::mutex m_mutex;
    TransferProgress m_progress;
    PlainProgressLines m_plainLines;
    double m_lastEvent = -1;
    double m_lastDraw = -1;
    bool m_lineShown = false;
};

}  // namespace tarnlink
