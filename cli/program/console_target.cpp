#include "cli/program/console_target.h"

#include "cli/report/transfer_events.h"
#include "cli/system/terminal.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

// A terminal is redrawn at most this often from the worker; the main thread's refresh
// covers the rest. Drawing every block would cost a write per block and show nothing more.
constexpr double DRAW_INTERVAL_S = 0.05;
// Without --events a station needs a few pictures a second, not one per block.
constexpr double STATION_EVENT_INTERVAL_S = 0.25;

}  // namespace

ConsoleTarget::ConsoleTarget(ConsoleSettings settings, std::function<void(uint8_t)> onResult)
    : m_settings(std::move(settings)),
      m_onResult(std::move(onResult)),
      m_progress(m_settings.kind) {}

double ConsoleTarget::elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void ConsoleTarget::setImageBytes(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress.setImageBytes(bytes);
}

void ConsoleTarget::showStatus(const char* text) {
    const std::string status = text != nullptr ? text : "";
    const double now = elapsed();
    std::lock_guard<std::mutex> lock(m_mutex);
    // The worker shows a block's text before it sends the request, so the context's
    // counters name that block right now.
    m_progress.onStatus(status, g_transfer.state.load(), g_transfer.packetIndex.load(),
                        g_transfer.imageWords.load(), now);
    const ProgressSnapshot snapshot = m_progress.snapshot(now);
    // Non-empty when the phase changed or another 10 % is done.
    const std::string stepLine = m_plainLines.lineFor(snapshot);

    if (m_settings.events != nullptr && (m_settings.everyEvent || !stepLine.empty() ||
                                         now - m_lastEvent >= STATION_EVENT_INTERVAL_S)) {
        writeText(m_settings.events, eventLine(statusEvent(m_settings.port, snapshot)));
        std::fflush(m_settings.events);
        m_lastEvent = now;
    }
    switch (m_settings.mode) {
        case OutputMode::PLAIN:
            if (m_settings.verbose || !stepLine.empty()) {
                writeText(m_settings.text, (m_settings.verbose ? status : stepLine) + "\n");
                std::fflush(m_settings.text);
            }
            break;
        case OutputMode::LIVE:
            if (m_settings.verbose) {
                clearLineLocked();
                writeText(m_settings.text, status + "\n");
                drawLocked(now);
            } else if (!stepLine.empty() || now - m_lastDraw >= DRAW_INTERVAL_S) {
                drawLocked(now);
            }
            break;
        case OutputMode::QUIET:
            break;
    }
}

void ConsoleTarget::setProgress(uint8_t position) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress.onProgress(position);
    if (m_settings.events != nullptr && m_settings.everyEvent) {
        writeText(m_settings.events, eventLine(progressEvent(m_settings.port, position)));
        std::fflush(m_settings.events);
    }
}

void ConsoleTarget::postTransferDone(uint8_t result) {
    m_onResult(result);
}

void ConsoleTarget::refresh() {
    const double now = elapsed();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_settings.mode == OutputMode::LIVE && m_lineShown) {
        drawLocked(now);
    }
}

void ConsoleTarget::note(const std::string& text) {
    const double now = elapsed();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_settings.mode == OutputMode::QUIET) {
        return;
    }
    const bool redraw = m_lineShown;
    clearLineLocked();
    writeText(m_settings.text, text + "\n");
    if (redraw) {
        drawLocked(now);
    }
    std::fflush(m_settings.text);
}

void ConsoleTarget::finish(uint8_t result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress.onResult(result);
    clearLineLocked();
    std::fflush(m_settings.text);
}

uint32_t ConsoleTarget::blocksDone() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progress.blocksDone();
}

void ConsoleTarget::clearLineLocked() {
    if (m_lineShown) {
        writeText(m_settings.text, "\r\x1b[K");
        m_lineShown = false;
    }
}

void ConsoleTarget::drawLocked(double now) {
    // One column short of the width: a line that fills it would wrap on some terminals.
    const unsigned width = terminalColumns(m_settings.text) - 1;
    const std::string line = formatProgressLine(m_progress.snapshot(now), width);
    writeText(m_settings.text, "\r" + line + "\x1b[K");
    std::fflush(m_settings.text);
    m_lineShown = true;
    m_lastDraw = now;
}

}  // namespace tarnlink
