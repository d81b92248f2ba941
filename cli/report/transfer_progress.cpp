#include "cli/report/transfer_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

constexpr unsigned BAR_WIDTH = 20;

std::string formatDuration(double seconds) {
    const long total = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string bar(const ProgressSnapshot& s, unsigned barWidth = BAR_WIDTH) {
    std::string cells(barWidth, '.');
    if (s.percent >= 0) {
        const unsigned filled = static_cast<unsigned>(std::min(s.percent, 100)) * barWidth / 100;
        for (unsigned i = 0; i < filled; ++i) {
            cells[i] = '#';
        }
    } else {
        // No total: a short block that moves with every block received.
        for (unsigned i = 0; i < 3; ++i) {
            cells[(s.blocksDone + i) % barWidth] = '#';
        }
    }
    return "[" + cells + "]";
}

std::string printableLine(std::string line, unsigned width) {
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    if (width > 0 && line.size() > width) {
        line.resize(width);
    }
    return line;
}

const char* phaseWord(const std::string& phase) {
    if (phase == "connect") {
        return "connecting";
    }
    if (phase == "write") {
        return "writing";
    }
    if (phase == "verify") {
        return "verifying";
    }
    if (phase == "request") {
        return "requesting";
    }
    if (phase == "read") {
        return "reading";
    }
    return "starting";
}

}  // namespace

std::string formatBoardProgress(const ProgressSnapshot& s, unsigned width) {
    char field[48];
    std::snprintf(field, sizeof field, "%-10s ", phaseWord(s.phase));
    std::string line = field + bar(s, 12);
    if (s.percent >= 0) {
        std::snprintf(field, sizeof field, " %3d%%", std::min(s.percent, 100));
        line += field;
    }
    line += "  ";
    line += s.bytesPerSecond >= 0 ? formatRate(s.bytesPerSecond) : std::string("-");
    if (s.blocksTotal > 0) {
        std::snprintf(field, sizeof field, "  %u/%u blocks", s.blocksDone, s.blocksTotal);
    } else {
        std::snprintf(field, sizeof field, "  %u blocks", s.blocksDone);
    }
    line += field;
    return printableLine(line, width);
}

std::string formatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    }
    return text;
}

std::string formatProgressLine(const ProgressSnapshot& s, unsigned width) {
    std::string line = s.status + " " + bar(s);
    char field[48];
    if (s.percent >= 0) {
        std::snprintf(field, sizeof field, " %3d%%", std::min(s.percent, 100));
        line += field;
    }
    if (s.blocksTotal > 0) {
        std::snprintf(field, sizeof field, "  %u/%u blocks", s.blocksDone, s.blocksTotal);
    } else {
        std::snprintf(field, sizeof field, "  %u blocks", s.blocksDone);
    }
    line += field;
    if (s.bytesPerSecond >= 0) {
        line += "  " + formatRate(s.bytesPerSecond);
    }
    if (s.secondsLeft >= 0) {
        line += "  " + formatDuration(s.secondsLeft) + " left";
    }
    return printableLine(line, width);
}

void TransferProgress::onStatus(const std::string& text, uint8_t state, uint16_t packetIndex,
                                uint16_t imageWords, double now) {
    m_status = text;
    if (imageWords > 0) {
        m_imageWords = imageWords;
        m_blocksTotal = (imageWords + BLOCK_WORDS - 1) / BLOCK_WORDS;
    }
    // The status text of a block is shown before its request goes out, so the block
    // named in it is the first one not yet done.
    switch (state) {
        case STATE_CONNECT:
            m_phase = m_kind == TransferKind::CRYPT ? "request" : "connect";
            return;
        case STATE_WRITE:
            m_phase = "write";
            m_written = packetIndex;
            break;
        case STATE_VERIFY:
            m_phase = "verify";
            // A verify alone writes nothing; a load has written every block by now.
            m_written = m_kind == TransferKind::LOAD ? m_blocksTotal : 0;
            m_verified = packetIndex;
            break;
        case STATE_CRYPT:
            m_phase = "read";
            m_received = packetIndex;
            break;
        default:
            return;
    }
    if (m_dataStart < 0) {
        m_dataStart = now;
    }
}

void TransferProgress::onResult(uint8_t result) {
    if (m_kind == TransferKind::LOAD && result == SUCCESS) {
        m_written = m_verified = m_blocksTotal;
    } else if (m_kind == TransferKind::VERIFY && result == SUCCESS) {
        m_verified = m_blocksTotal;
    }
}

uint32_t TransferProgress::blocksDone() const {
    return m_kind == TransferKind::CRYPT ? m_received : m_verified;
}

ProgressSnapshot TransferProgress::snapshot(double now) const {
    ProgressSnapshot s;
    s.status = m_status;
    s.phase = m_phase;
    // An image's transfer (load or verify) shows percent and time left; a crypt, whose
    // length is unknown, only blocks.
    const bool load = m_kind != TransferKind::CRYPT;
    double imageBytesDone = 0;
    // A load moves every block twice, out and back, a verify once, back; the blocks shown
    // are those of the phase it is in.
    const uint32_t passes = m_kind == TransferKind::LOAD ? 2 : 1;
    const uint32_t steps = load ? m_written + m_verified : m_received;
    if (load) {
        s.percent = m_position;
        s.blocksTotal = m_blocksTotal;
        s.blocksDone = m_verified > 0 || m_written >= m_blocksTotal ? m_verified : m_written;
        if (m_blocksTotal > 0) {
            const double imageBytes =
                m_imageBytes > 0 ? double(m_imageBytes) : double(m_imageWords) * 4.0;
            imageBytesDone = imageBytes * steps / (double(passes) * m_blocksTotal);
        }
    } else {
        s.blocksDone = m_received;
        imageBytesDone = double(m_received) * BLOCK_BYTES;
    }
    if (imageBytesDone > 0 && now > 0.05) {
        s.bytesPerSecond = imageBytesDone / now;
    }
    const double dataElapsed = m_dataStart < 0 ? 0 : now - m_dataStart;
    if (load && steps > 0 && dataElapsed > 0.05 && m_blocksTotal > 0) {
        const uint32_t totalSteps = passes * m_blocksTotal;
        const uint32_t left = totalSteps > steps ? totalSteps - steps : 0;
        s.secondsLeft = left * dataElapsed / steps;
    }
    return s;
}

std::string PlainProgressLines::lineFor(const ProgressSnapshot& s) {
    if (s.status.empty()) {
        return {};
    }
    const long step =
        s.percent >= 0 ? s.percent / 10 : long(s.blocksDone / PLAIN_CRYPT_STEP_BLOCKS);
    if (s.phase == m_phase && step <= m_step) {
        return {};
    }
    m_phase = s.phase;
    m_step = step;
    std::string line = s.status;
    if (s.phase == "connect" || s.phase == "request") {
        return line;  // nothing moves yet
    }
    if (s.percent >= 0) {
        line += "  " + std::to_string(std::min(s.percent, 100)) + "%";
    }
    if (s.bytesPerSecond >= 0) {
        line += "  " + formatRate(s.bytesPerSecond);
    }
    return line;
}

}  // namespace tarnlink
