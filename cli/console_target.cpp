#include "cli/console_target.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "transfer/transfer_context.h"

namespace tarnlink {

ConsoleTarget::ConsoleTarget(TransferKind kind, OutputMode mode, std::FILE* out, int resultFd)
    : m_mode(mode), m_out(out), m_resultFd(resultFd), m_progress(kind) {}

double ConsoleTarget::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void ConsoleTarget::showStatus(const char* text) {
    const std::string status = text != nullptr ? text : "";
    std::lock_guard<std::mutex> lock(m_mutex);
    // The worker shows a block's text before it sends the request, so the context's
    // counters name that block right now.
    m_progress.onStatus(status, g_transfer.state.load(), g_transfer.packetIndex.load(),
                        g_transfer.imageWords.load(), now());
    if (m_mode == OutputMode::PLAIN) {
        if (status != m_lastPlain) {
            std::fprintf(m_out, "%s\n", status.c_str());
            std::fflush(m_out);
            m_lastPlain = status;
        }
    } else if (m_mode == OutputMode::LIVE) {
        drawLocked();
    }
}

void ConsoleTarget::setProgress(uint8_t position) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress.onProgress(position);
    if (m_mode == OutputMode::LIVE) {
        drawLocked();
    }
}

void ConsoleTarget::postTransferDone(uint8_t result) {
    const unsigned char message[2] = {'R', result};
    // Two bytes are far below PIPE_BUF: the write is whole or fails.
    while (::write(m_resultFd, message, sizeof message) < 0 && errno == EINTR) {
    }
}

void ConsoleTarget::refresh() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mode == OutputMode::LIVE && m_lineShown) {
        drawLocked();
    }
}

void ConsoleTarget::note(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mode == OutputMode::QUIET) {
        return;
    }
    if (m_lineShown) {
        std::fputs("\r\x1b[K", m_out);
    }
    std::fprintf(m_out, "%s\n", text.c_str());
    if (m_lineShown) {
        drawLocked();
    }
    std::fflush(m_out);
}

void ConsoleTarget::finish(uint8_t result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress.onResult(result);
    if (m_lineShown) {
        std::fputs("\r\x1b[K", m_out);
        std::fflush(m_out);
        m_lineShown = false;
    }
}

uint32_t ConsoleTarget::blocksDone() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progress.blocksDone();
}

void ConsoleTarget::drawLocked() {
    winsize size{};
    unsigned width = 80;
    if (::ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
        width = size.ws_col;
    }
    // One column short of the width: a line that fills it would wrap on some terminals.
    const std::string line = formatProgressLine(m_progress.snapshot(now()), width - 1);
    std::fprintf(m_out, "\r%s\x1b[K", line.c_str());
    std::fflush(m_out);
    m_lineShown = true;
}

}  // namespace tarnlink
