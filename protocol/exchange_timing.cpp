#include "protocol/exchange_timing.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>

namespace tarnlink {

namespace {

struct ExchangeTiming {
    // When the last request's last byte is on the line; 0 once its answer has started.
    std::atomic<int64_t> requestOutNs{0};
    // Written only by the reader thread; the count is stored after the sample it covers.
    std::atomic<uint32_t> samples{0};
    std::array<std::atomic<uint32_t>, TURNAROUND_SAMPLES> turnaroundUs{};
    std::atomic<uint64_t> bytesSent{0};
    std::atomic<uint64_t> bytesReceived{0};
};

ExchangeTiming g_timing;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t wireTimeNs(size_t bytes) {
    return static_cast<int64_t>(bytes) * 10 * 1'000'000'000LL / LINE_BAUD;
}

}  // namespace

void resetExchangeTiming() {
    g_timing.requestOutNs.store(0);
    for (std::atomic<uint32_t>& sample : g_timing.turnaroundUs) {
        sample.store(0, std::memory_order_relaxed);
    }
    g_timing.bytesSent.store(0);
    g_timing.bytesReceived.store(0);
    g_timing.samples.store(0);
}

void noteRequestWriting(size_t bytes) {
    g_timing.bytesSent.fetch_add(bytes, std::memory_order_relaxed);
    // Stamped before the write: a fast answer may reach the reader before the write returns.
    g_timing.requestOutNs.store(nowNs() + wireTimeNs(bytes), std::memory_order_release);
}

void noteAnswerStarted() {
    const int64_t requestOut = g_timing.requestOutNs.exchange(0, std::memory_order_acq_rel);
    if (requestOut == 0) {
        return;
    }
    const uint32_t index = g_timing.samples.load(std::memory_order_relaxed);
    if (index >= TURNAROUND_SAMPLES) {
        return;
    }
    const int64_t waitedUs = std::max<int64_t>(0, nowNs() - requestOut) / 1000;
    g_timing.turnaroundUs[index].store(
        static_cast<uint32_t>(std::min<int64_t>(waitedUs, UINT32_MAX)), std::memory_order_relaxed);
    g_timing.samples.store(index + 1, std::memory_order_release);
}

void noteAnswerReceived(size_t bytes) {
    g_timing.bytesReceived.fetch_add(bytes, std::memory_order_relaxed);
}

ExchangeFigures exchangeFigures() {
    ExchangeFigures figures;
    const uint32_t samples = g_timing.samples.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < samples; ++i) {
        figures.turnaroundUs.push_back(g_timing.turnaroundUs[i].load(std::memory_order_relaxed));
    }
    figures.bytesSent = g_timing.bytesSent.load(std::memory_order_relaxed);
    figures.bytesReceived = g_timing.bytesReceived.load(std::memory_order_relaxed);
    return figures;
}

}  // namespace tarnlink
