#include "cli/report/line_figures.h"

#include <algorithm>
#include <cstdio>

namespace tarnlink {

double medianUs(std::vector<uint32_t> samples) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    if (samples.size() % 2 == 1) {
        return samples[middle];
    }
    return (static_cast<double>(samples[middle - 1]) + samples[middle]) / 2.0;
}

LineFigures lineFigures(const ExchangeFigures& exchange, double elapsedSeconds) {
    LineFigures figures;
    figures.exchanges = static_cast<uint32_t>(exchange.turnaroundUs.size());
    if (figures.exchanges > 0) {
        figures.turnaroundMs = medianUs(exchange.turnaroundUs) / 1000.0;
    }
    if (elapsedSeconds > 0) {
        const double bytes = static_cast<double>(exchange.bytesSent + exchange.bytesReceived);
        figures.efficiency = bytes * 10.0 / LINE_BAUD / elapsedSeconds;
    }
    return figures;
}

std::string slowLineWarning(const LineFigures& figures, const std::string& advice) {
    if (figures.exchanges < SLOW_LINE_MIN_SAMPLES || figures.turnaroundMs <= SLOW_TURNAROUND_MS) {
        return {};
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "Warning: slow line: the target's answers start %.1f ms after each request "
                  "(median of %u exchanges; a direct line takes under 1 ms). Probable cause: ",
                  figures.turnaroundMs, figures.exchanges);
    return text + advice;
}

}  // namespace tarnlink
