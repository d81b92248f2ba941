// Arbitrary bytes through the frame receiver and the real dispatcher, with the transfer
// context switched between every state, an image of random size that ASan fences exactly,
// and a crypt output file. Built as a libFuzzer target and into the corpus replay test.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "protocol/frame_receiver.h"
#include "protocol/frame_trace.h"
#include "tests/protocol/frame_receiver_fuzz.h"
#include "transfer/transfer_context.h"

namespace tarnlink::fuzz {

size_t g_goodFrames = 0;

namespace {

// Every frame the receiver passes on must be whole and carry a matching FCS.
void checkFrame(FrameDirection direction, const uint8_t* frame, size_t size) {
    uint8_t fcs = 0;
    for (size_t i = 1; i + 1 < size; ++i) {
        fcs ^= frame[i];
    }
    if (direction != FrameDirection::RECEIVED || size < FRAME_OVERHEAD ||
        size != FRAME_OVERHEAD + frame[1] || frame[1] >= RX_PAYLOAD_MAX || frame[0] != FRAME_SOF ||
        frame[size - 1] != fcs) {
        std::abort();
    }
    ++g_goodFrames;
}

std::FILE* cryptFile() {
    // One file for the process; each input starts writing at its beginning again.
    static std::FILE* file = std::tmpfile();
    return file;
}

}  // namespace

int feedOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);

    // Integers come from the end of the input, the streamed bytes from its front.
    const uint16_t imageWords = input.ConsumeIntegral<uint16_t>();
    const uint8_t fill = input.ConsumeIntegral<uint8_t>();
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();

    const size_t imageBytes = size_t{(imageWords + BLOCK_WORDS - 1u) / BLOCK_WORDS} * BLOCK_BYTES;
    uint8_t* image = imageBytes != 0 ? static_cast<uint8_t*>(std::malloc(imageBytes)) : nullptr;
    if (image != nullptr) {
        std::memset(image, fill, imageBytes);
    }
    static AutoResetEvent ack;
    std::FILE* file = cryptFile();
    if (file != nullptr) {
        std::rewind(file);
    }

    g_transfer.image = image;
    g_transfer.imageWords = imageWords;
    g_transfer.skipResetVector = flags & 1;
    g_transfer.ackEvent = (flags & 2) != 0 ? &ack : nullptr;
    g_transfer.file = (flags & 4) != 0 ? file : nullptr;
    g_transfer.result = SUCCESS;
    setFrameObserver((flags & 8) != 0 ? checkFrame : nullptr);

    // Same start for every input, so a finding replays alike.
    FrameReceiver& rx = g_frameReceiver;
    rx.parseState = RX_HUNT;
    rx.command = rx.length = rx.fcs = rx.received = rx.group = 0;
    std::memset(rx.payload, 0, sizeof rx.payload);

    while (input.remaining_bytes() > 0) {
        g_transfer.state = input.ConsumeIntegral<uint8_t>() % (STATE_CANCEL + 1);
        g_transfer.address = input.ConsumeIntegral<uint16_t>();
        g_transfer.packetIndex = input.ConsumeIntegral<uint16_t>();
        // The answer the worker would wait for: none, or one kind, a read at `address`.
        static constexpr uint8_t kinds[] = {0, 0x01, 0x02, 0x03, 0x04, 0x20};
        const uint8_t kind = kinds[input.ConsumeIntegral<uint8_t>() % sizeof kinds];
        if (kind == 0) {
            g_transfer.awaitedAnswer = 0;
        } else {
            expectAnswer(g_transfer, kind, kind == 0x02 ? g_transfer.address.load() : 0);
        }
        const size_t step = input.ConsumeIntegral<uint8_t>();
        const size_t chunk = size_t{input.ConsumeIntegral<uint8_t>()} + 1;
        const auto bytes = input.ConsumeBytes<uint8_t>(chunk);
        // Step 0 feeds the chunk in one call; otherwise in pieces of `step` bytes.
        const size_t piece = step == 0 ? bytes.size() : step;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            const size_t n = std::min(piece, bytes.size() - at);
            if (frameReceiverFeed(bytes.data() + at, static_cast<int32_t>(n), nullptr) != 1) {
                std::abort();
            }
            if (rx.received > RX_PAYLOAD_MAX || rx.parseState > RX_FCS) {
                std::abort();
            }
        }
        if (frameReceiverFeed(nullptr, 0, nullptr) != 1) {
            std::abort();
        }
    }

    setFrameObserver(nullptr);
    g_transfer.ackEvent = nullptr;
    g_transfer.file = nullptr;
    g_transfer.image = nullptr;
    g_transfer.state = STATE_IDLE;
    std::free(image);
    return 0;
}

}  // namespace tarnlink::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tarnlink::fuzz::feedOneInput(data, size);
}
