#pragma once
// The record of every frame in and out. In memory for the tests, and optionally a file with
// one line per frame: "<monotonic µs> <in|out> FE 00 4D 84 C9". A frame in is stamped when
// its last byte has been taken in, a frame out just before its first byte is sent.

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_target.h"

namespace tarnlink::sim {

class SimLog {
public:
    SimLog() = default;
    ~SimLog();
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    /// Creates (or cuts) the log file. False when it cannot be opened.
    bool open(const std::string& path);
    /// Records one frame, stamped now; the file line is flushed at once. Any thread.
    void record(bool fromHost, const std::vector<uint8_t>& bytes);
    /// Every frame so far. Any thread.
    std::vector<LoggedFrame> frames() const;
    void close();

private:
    mutable std::mutex m_mutex;
    std::vector<LoggedFrame> m_frames;
    std::FILE* m_file = nullptr;
};

/// The current CLOCK_MONOTONIC time in microseconds, the time base of the log.
uint64_t simMonotonicUs();

}  // namespace tarnlink::sim
