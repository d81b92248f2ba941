#pragma once
// Follows a running transfer from its status texts and turns it into the live progress
// line: status text, bar, percent, blocks done, rate and time left.

#include <cstdint>
#include <string>

#include "cli/report/result_report.h"

namespace tarnlink {

/// How a transfer's progress is shown on stderr.
enum class OutputMode {
    LIVE,   ///< a terminal: one line, redrawn in place
    PLAIN,  ///< phase changes and every 10 % on lines of their own (--verbose: every text)
    QUIET,  ///< nothing until the result
};

/// A picture of the transfer at one moment; negative numbers are "not known".
struct ProgressSnapshot {
    std::string status;
    /// load: "connect", "write", "verify"; crypt: "request", "read"; empty before the first
    /// status text.
    std::string phase;
    int percent = -1;  ///< 0..100; unknown for a crypt read-back (no total)
    uint32_t blocksDone = 0;
    uint32_t blocksTotal = 0;  ///< 0: unknown
    /// Image bytes per second of elapsed time: a load moves every block twice, so this is
    /// the image's size over the time the whole load takes, not the bytes on the wire.
    double bytesPerSecond = -1;
    double secondsLeft = -1;
};

/// One terminal line of at most `width` columns (no newline, no control characters).
std::string formatProgressLine(const ProgressSnapshot& snapshot, unsigned width);

/// One board's part of a station's live line, at most `width` columns: what it does
/// ("writing", "verifying", ...), a short bar, percent, rate and blocks.
std::string formatBoardProgress(const ProgressSnapshot& snapshot, unsigned width);

/// "512 B/s", "5.3 KiB/s".
std::string formatRate(double bytesPerSecond);

/// Collects what the engine reports. Not thread-safe: the caller serialises the calls.
/// Times are seconds since the transfer started.
class TransferProgress {
  public:
    explicit TransferProgress(TransferKind kind) : m_kind(kind) {}

    /// The image's size in bytes, when known; otherwise the rate counts whole words.
    void setImageBytes(uint64_t bytes) { m_imageBytes = bytes; }
    /// A status text, with the engine's state, packetIndex and imageWords at that moment.
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
    const std::string& phase() const { return m_phase; }

  private:
    TransferKind m_kind;
    std::string m_status;
    std::string m_phase;
    uint8_t m_position = 0;
    uint64_t m_imageBytes = 0;
    uint16_t m_imageWords = 0;
    uint32_t m_blocksTotal = 0;
    uint32_t m_written = 0;   ///< load: blocks acknowledged in the write phase
    uint32_t m_verified = 0;  ///< load: blocks read back and matched
    uint32_t m_received = 0;  ///< crypt: blocks in the output file
    double m_dataStart = -1;  ///< time of the first block request
};

/// Which status texts a pipe gets when not every one is wanted: the first of each phase,
/// then one for every 10 % (a crypt read-back, whose length is unknown, every 256 blocks),
/// each with the percent and the rate.
class PlainProgressLines {
  public:
    /// The line for this picture, or empty when it adds nothing to the last one printed.
    std::string lineFor(const ProgressSnapshot& snapshot);

  private:
    std::string m_phase;
    long m_step = -1;
};

inline constexpr uint32_t PLAIN_CRYPT_STEP_BLOCKS = 256;

}  // namespace tarnlink
