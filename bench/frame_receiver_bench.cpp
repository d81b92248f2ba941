// The frame receiver in bytes per second: a long stream of good response frames, once with
// the transfer idle (the dispatcher ignores them) and once in states where every frame is
// accepted (write acknowledged; read-back compared with the image and acknowledged).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "protocol/frame_receiver.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

constexpr size_t STREAM_BYTES = 64 * 1024;

std::vector<uint8_t> block(uint8_t seed) {
    std::vector<uint8_t> data(BLOCK_BYTES);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(seed + i * 13);
    }
    return data;
}

// Repeats one frame until the stream holds about STREAM_BYTES.
std::vector<uint8_t> streamOf(uint8_t command, const std::vector<uint8_t>& payload) {
    uint8_t frame[FRAME_MAX];
    const size_t size =
        buildFrame(command, payload.data(), static_cast<uint8_t>(payload.size()), frame);
    std::vector<uint8_t> stream;
    while (stream.size() + size <= STREAM_BYTES) {
        stream.insert(stream.end(), frame, frame + size);
    }
    return stream;
}

std::vector<uint8_t> readResponse(uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> payload{0, static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

void resetTransfer() {
    g_transfer.state.store(STATE_IDLE);
    g_transfer.ackEvent.store(nullptr);
    g_transfer.image.store(nullptr);
    g_transfer.imageWords.store(0);
    g_transfer.packetIndex.store(0);
    g_transfer.address.store(0);
    g_frameReceiver.parseState.store(RX_HUNT);
}

// Feeds the stream in one call, and also the way the serial link does it, one byte a call.
void feed(benchmark::State& state, const std::vector<uint8_t>& stream, size_t frames) {
    const bool byteWise = state.range(0) != 0;
    for (auto _ : state) {
        if (byteWise) {
            for (const uint8_t b : stream) {
                frameReceiverFeed(&b, 1, nullptr);
            }
        } else {
            frameReceiverFeed(stream.data(), static_cast<int32_t>(stream.size()), nullptr);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
}

void BM_ReceiverIdle(benchmark::State& state) {
    resetTransfer();
    const auto stream = streamOf(CMD_READ | RSP_BIT, readResponse(0x0010, block(1)));
    feed(state, stream, stream.size() / 72);
}
BENCHMARK(BM_ReceiverIdle)->ArgName("bytewise")->Arg(0)->Arg(1);

void BM_ReceiverWriteAck(benchmark::State& state) {
    resetTransfer();
    AutoResetEvent ack;
    g_transfer.ackEvent.store(&ack);
    g_transfer.state.store(STATE_WRITE);
    const auto stream = streamOf(CMD_WRITE | RSP_BIT, {0});
    feed(state, stream, stream.size() / 6);
    resetTransfer();
}
BENCHMARK(BM_ReceiverWriteAck)->ArgName("bytewise")->Arg(0)->Arg(1);

void BM_ReceiverVerifyAck(benchmark::State& state) {
    resetTransfer();
    auto image = block(7);
    image.resize(2 * BLOCK_BYTES, 0xFF);
    const auto second = block(9);
    std::copy(second.begin(), second.end(), image.begin() + BLOCK_BYTES);
    AutoResetEvent ack;
    g_transfer.image.store(image.data());
    g_transfer.imageWords.store(static_cast<uint16_t>(image.size() / 4));
    g_transfer.packetIndex.store(1);
    g_transfer.address.store(BLOCK_WORDS);
    g_transfer.ackEvent.store(&ack);
    g_transfer.state.store(STATE_VERIFY);
    const auto stream = streamOf(CMD_READ | RSP_BIT, readResponse(BLOCK_WORDS, second));
    feed(state, stream, stream.size() / 72);
    // Every frame matched: the transfer is still verifying, not ended with VERIFY_FAILED.
    if (g_transfer.state.load() != STATE_VERIFY) {
        state.SkipWithError("read-back was not accepted");
    }
    resetTransfer();
}
BENCHMARK(BM_ReceiverVerifyAck)->ArgName("bytewise")->Arg(0)->Arg(1);

}  // namespace
}  // namespace tarnlink
