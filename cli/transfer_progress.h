#pragma once
// Follows a running transfer from its status texts and turns it into the live progress
// line: status text, bar, percent, blocks done, bytes per second and time left.

#include <cstdint>
#include <string>

#include "cli/result_report.h"

namespace tarnlink {

/// A picture of the transfer at one moment; negative numbers are "not known".
struct ProgressSnapshot {
    std::string status;
    int percent = -1;  ///< 0..100; unknown for a crypt read-back (no total)
    uint32_t blocksDone = 0;
    uint32_t blocksTotal = 0;  ///< 0: unknown
    double bytesPerSecond = -1;
    double secondsLeft = -1;
};

/// One terminal line of at most `width` columns (no newline, no control characters).
std::string formatProgressLine(const ProgressSnapshot& snapshot, unsigned width);

/// Collects what the engine reports. Not thread-safe: the caller serialises the calls.
class TransferProgress {
  public:
    explicit TransferProgress(TransferKind kind) : m_kind(kind) {}

    /// A status text, with the engine's state, packetIndex and imageWords at that moment
    /// and the time in seconds.
    void onStatus(const std::string& text, uint8_t state, uint16_t packetIndex, uint16_t imageWords,
                  double now);
    /// The engine's progress value (0..100).
    void onProgress(uint8_t position) { m_position = position; }
    /// The transfer ended with `result`: a finished load counts every block.
    void onResult(uint8_t result);

    ProgressSnapshot snapshot(double now) const;
    /// Load: blocks written and read back; crypt: blocks received.
    uint32_t blocksDone() const;
    const std::string& status() const { return m_status; }

  private:
    TransferKind m_kind;
    std::string m_status;
    uint8_t m_position = 0;
    uint32_t m_blocksTotal = 0;
    uint32_t m_written = 0;   ///< load: blocks acknowledged in the write phase
    uint32_t m_verified = 0;  ///< load: blocks read back and matched
    uint32_t m_received = 0;  ///< crypt: blocks in the output file
    double m_dataStart = -1;  ///< time of the first block request
};

}  // namespace tarnlink
