#pragma once
// How quickly the target starts to answer, and how many bytes crossed the line: the worker
// stamps each request as it goes out, the reader thread stamps the start byte of the next
// answer. Lock-free; the reader pays one clock read per frame, never one per byte.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnlink {

/// The link's fixed speed; a byte on the line is 10 bits (start, 8 data, stop).
inline constexpr uint32_t LINE_BAUD = 115200;
/// Turnarounds kept per transfer: those of its first exchanges.
inline constexpr uint32_t TURNAROUND_SAMPLES = 32;

/// Forgets everything recorded. Call it while no transfer runs, before the next starts.
void resetExchangeTiming();

/// A request of `bytes` bytes is about to be written. Its answer cannot start before the
/// last of these bytes has left at LINE_BAUD, so the turnaround is counted from then.
/// Worker thread.
void noteRequestWriting(size_t bytes);

/// A start byte has arrived while the receiver hunted for a frame. The first one after a
/// request ends that request's turnaround; any other (noise, a second copy) is ignored.
/// Reader thread.
void noteAnswerStarted();

/// A frame of `bytes` bytes (start byte to FCS) has been received, good or bad. Reader thread.
void noteAnswerReceived(size_t bytes);

struct ExchangeFigures {
    std::vector<uint32_t> turnaroundUs;  ///< of the first exchanges, in order, microseconds
    uint64_t bytesSent = 0;
    uint64_t bytesReceived = 0;
};

/// What has been recorded since the last reset. Any thread; complete once the transfer's
/// link is closed.
ExchangeFigures exchangeFigures();

}  // namespace tarnlink
