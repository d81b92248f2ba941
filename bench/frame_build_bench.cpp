// Frame building per frame: the 71-byte write that carries a block, and a short request.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "protocol/frame.h"

namespace tarnlink {
namespace {

void BM_BuildWriteFrame(benchmark::State& state) {
    std::array<uint8_t, 66> payload{};  // address low, high, then the 64 block bytes
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 37);
    }
    std::array<uint8_t, FRAME_MAX> out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(payload.data());
        const size_t n = buildFrame(CMD_WRITE, payload.data(), 66, out.data());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 71);
}
BENCHMARK(BM_BuildWriteFrame);

void BM_BuildReadFrame(benchmark::State& state) {
    const std::array<uint8_t, 2> payload{0x30, 0x01};
    std::array<uint8_t, FRAME_MAX> out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(payload.data());
        const size_t n = buildFrame(CMD_READ, payload.data(), 2, out.data());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 7);
}
BENCHMARK(BM_BuildReadFrame);

}  // namespace
}  // namespace tarnlink
