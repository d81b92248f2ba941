#include "cli/transfer_progress.h"

#include <cmath>
#include <cstdio>

#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

constexpr unsigned BAR_WIDTH = 20;

std::string formatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    }
    return text;
}

std::string formatDuration(double seconds) {
    const long total = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string bar(const ProgressSnapshot& s) {
    std::string cells(BAR_WIDTH, '.');
    if (s.percent >= 0) {
        const unsigned filled = static_cast<unsigned>(std::min(s.percent, 100)) * BAR_WIDTH / 100;
        for (unsigned i = 0; i < filled; ++i) {
            cells[i] = '#';
        }
    } else {
        // No total: a short block that moves with every block received.
        for (unsigned i = 0; i < 3; ++i) {
            cells[(s.blocksDone + i) % BAR_WIDTH] = '#';
        }
    }
    return "[" + cells + "]";
}

}  // namespace

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

void TransferProgress::onStatus(const std::string& text, uint8_t state, uint16_t packetIndex,
                                uint16_t imageWords, double now) {
    m_status = text;
    if (imageWords > 0) {
        m_blocksTotal = (imageWords + BLOCK_WORDS - 1) / BLOCK_WORDS;
    }
    // The status text of a block is shown before its request goes out, so the block
    // named in it is the first one not yet done.
    switch (state) {
        case STATE_WRITE:
            m_written = packetIndex;
            break;
        case STATE_VERIFY:
            m_written = m_blocksTotal;
            m_verified = packetIndex;
            break;
        case STATE_CRYPT:
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
    }
}

uint32_t TransferProgress::blocksDone() const {
    return m_kind == TransferKind::LOAD ? m_verified : m_received;
}

ProgressSnapshot TransferProgress::snapshot(double now) const {
    ProgressSnapshot s;
    s.status = m_status;
    const bool load = m_kind == TransferKind::LOAD;
    // A load moves every block twice, out and back; the blocks shown are those of the
    // phase it is in.
    const uint32_t steps = load ? m_written + m_verified : m_received;
    if (load) {
        s.percent = m_position;
        s.blocksTotal = m_blocksTotal;
        s.blocksDone = m_verified > 0 || m_written >= m_blocksTotal ? m_verified : m_written;
    } else {
        s.blocksDone = m_received;
    }
    const double elapsed = m_dataStart < 0 ? 0 : now - m_dataStart;
    if (steps > 0 && elapsed > 0.05) {
        s.bytesPerSecond = steps * double(BLOCK_BYTES) / elapsed;
        if (load && m_blocksTotal > 0) {
            const uint32_t totalSteps = 2 * m_blocksTotal;
            const uint32_t left = totalSteps > steps ? totalSteps - steps : 0;
            s.secondsLeft = left * double(BLOCK_BYTES) / s.bytesPerSecond;
        }
    }
    return s;
}

}  // namespace tarnlink
