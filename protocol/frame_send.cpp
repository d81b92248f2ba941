#include "link/serial_link.h"
#include "protocol/exchange_timing.h"
#include "protocol/frame.h"
#include "protocol/frame_trace.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

void sendFrame(uint8_t command, const uint8_t* payload, uint8_t length) {
    // A longer payload would not fit the link's 8-bit write count; no caller sends one.
    if (length > FRAME_PAYLOAD_MAX) {
        return;
    }
    SerialLink* link = g_transfer.link.load();
    if (link == nullptr) {
        return;
    }
    // The frame lives on the stack: at most 255 bytes, and no allocation that could fail.
    uint8_t frame[FRAME_MAX];
    const size_t size = buildFrame(command, payload, length, frame);
    if (FrameObserver observer = frameObserver()) {
        observer(FrameDirection::SENT, frame, size);
    }
    noteRequestWriting(size);
    // A failed write counts as sent: the worker's time-out and repeat cover it.
    (void)serialLinkWrite(link, frame, static_cast<uint32_t>(size));
}

void sendWrite(uint16_t address, const uint8_t* block) {
    uint8_t payload[2 + BLOCK_BYTES];
    payload[0] = static_cast<uint8_t>(address & 0xFF);
    payload[1] = static_cast<uint8_t>(address >> 8);
    for (uint32_t i = 0; i < BLOCK_BYTES; ++i) {
        payload[2 + i] = block[i];
    }
    sendFrame(CMD_WRITE, payload, sizeof payload);
}

void sendRead(uint16_t address) {
    const uint8_t payload[2] = {static_cast<uint8_t>(address & 0xFF),
                                static_cast<uint8_t>(address >> 8)};
    sendFrame(CMD_READ, payload, sizeof payload);
}

void sendEnable() {
    sendFrame(CMD_ENABLE, nullptr, 0);
}

void sendHandshake() {
    const uint8_t payload[1] = {0x02};
    sendFrame(CMD_HANDSHAKE, payload, sizeof payload);
}

void sendProbe() {
    const uint8_t payload[1] = {0x00};
    sendFrame(CMD_PROBE, payload, sizeof payload);
}

void sendCryptRequest() {
    sendFrame(CMD_CRYPT, nullptr, 0);
}

}  // namespace tarnlink
