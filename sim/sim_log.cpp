#include "sim/sim_log.h"

#include <chrono>

namespace tarnlink::sim {

uint64_t simMonotonicUs() {
    // steady_clock is CLOCK_MONOTONIC on Linux, so other processes can compare the stamps.
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

SimLog::~SimLog() { close(); }

bool SimLog::open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_file = std::fopen(path.c_str(), "w");
    return m_file != nullptr;
}

void SimLog::close() {
    std::lock_guard lock(m_mutex);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void SimLog::record(bool fromHost, const std::vector<uint8_t>& bytes) {
    LoggedFrame frame{simMonotonicUs(), fromHost, bytes};
    std::lock_guard lock(m_mutex);
    if (m_file != nullptr) {
        std::fprintf(m_file, "%llu %s", static_cast<unsigned long long>(frame.timeUs),
                     fromHost ? "in" : "out");
        for (const uint8_t byte : bytes) {
            std::fprintf(m_file, " %02X", byte);
        }
        std::fputc('\n', m_file);
        std::fflush(m_file);
    }
    m_frames.push_back(std::move(frame));
}

std::vector<LoggedFrame> SimLog::frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

}  // namespace tarnlink::sim
