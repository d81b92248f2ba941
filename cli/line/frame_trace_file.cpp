#include "cli/line/frame_trace_file.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "cli/report/transfer_events.h"
#include "platform/utf8_file.h"
#include "protocol/frame_trace.h"

namespace tarnlink {

namespace {

// The observer is a plain function: the worker (TX) and the reader thread (RX) both call
// it, so the file and its clock live here behind one mutex.
std::mutex s_traceMutex;
std::FILE* s_traceFile = nullptr;
std::chrono::steady_clock::time_point s_traceStart;

void traceFrame(FrameDirection direction, const uint8_t* frame, size_t size) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(s_traceMutex);
    if (s_traceFile == nullptr) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - s_traceStart).count();
    const std::string line =
        formatTraceLine(seconds, direction == FrameDirection::SENT, frame, size);
    std::fputs(line.c_str(), s_traceFile);
    std::fputc('\n', s_traceFile);
    // Each frame reaches the file at once: a program killed or quit mid-transfer keeps
    // the last lines, which are the ones a bug report needs.
    std::fflush(s_traceFile);
}

}  // namespace

std::string formatTraceLine(double seconds, bool sent, const uint8_t* frame, size_t size) {
    char head[40];
    std::snprintf(head, sizeof head, "%.6f %s", seconds, sent ? "TX" : "RX");
    std::string line = head;
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < size; ++i) {
        line += ' ';
        line += digits[frame[i] >> 4];
        line += digits[frame[i] & 0x0F];
    }
    return line;
}

bool startFrameTrace(const std::string& path, const std::string& title) {
    std::FILE* file = openUtf8File(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    // To the second: "2026-12-08T01:02:03Z" (gmtime_r is POSIX's alone).
    const std::string started = isoTimeNow().substr(0, 19) + "Z";
    std::fprintf(file, "# %s, started %s; seconds since start, TX to / RX from the target\n",
                 title.c_str(), started.c_str());
    std::fflush(file);
    {
        std::lock_guard<std::mutex> lock(s_traceMutex);
        s_traceFile = file;
        s_traceStart = std::chrono::steady_clock::now();
    }
    setFrameObserver(&traceFrame);
    return true;
}

void stopFrameTrace() {
    setFrameObserver(nullptr);
    std::FILE* file = nullptr;
    {
        std::lock_guard<std::mutex> lock(s_traceMutex);
        file = s_traceFile;
        s_traceFile = nullptr;
    }
    if (file != nullptr) {
        std::fclose(file);
    }
}

}  // namespace tarnlink
