#pragma once
// How well a transfer used the line: the median turnaround of its first exchanges (request
// out, answer starting), how much of the time the line carried bytes, and the one warning
// line the command line prints when answers start late.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/exchange_timing.h"

namespace tarnlink {

/// Answers that start later than this point at a device that holds them back; a direct
/// line answers in well under a millisecond.
inline constexpr double SLOW_TURNAROUND_MS = 4.0;
/// Fewer exchanges than this are not judged: a handful of answers delayed by a busy
/// machine would pass for a slow adapter, and a transfer that short hardly suffers.
inline constexpr uint32_t SLOW_LINE_MIN_SAMPLES = 16;

struct LineFigures {
    uint32_t exchanges = 0;    ///< turnarounds measured
    double turnaroundMs = -1;  ///< their median; negative when none was measured
    double efficiency = -1;    ///< line time of the bytes / elapsed time; negative: unknown
};

/// The median of `samples`; for an even count, the mean of the middle two.
double medianUs(std::vector<uint32_t> samples);

/// The figures of `exchange` over `elapsedSeconds`. The efficiency counts 10 bits a byte at
/// LINE_BAUD, both directions; above 1 on a line faster than that (a pseudo-terminal).
LineFigures lineFigures(const ExchangeFigures& exchange, double elapsedSeconds);

/// The warning line for answers that start late, or empty when they do not (or too few
/// exchanges were measured). `advice` names the probable cause and its fix.
std::string slowLineWarning(const LineFigures& figures, const std::string& advice);

}  // namespace tarnlink
