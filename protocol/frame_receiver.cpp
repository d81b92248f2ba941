#include "protocol/frame_receiver.h"

#include <cstring>

#include "protocol/exchange_timing.h"
#include "protocol/frame.h"
#include "protocol/frame_trace.h"
#include "protocol/response_dispatcher.h"

namespace tarnlink {

FrameReceiver g_frameReceiver;

namespace {

// The trace wants the frame as it came; the receiver keeps only the payload, so put the
// header and the FCS back around it.
void traceReceived(const FrameReceiver& rx) {
    FrameObserver observer = frameObserver();
    if (observer == nullptr) {
        return;
    }
    uint8_t frame[FRAME_OVERHEAD + RX_PAYLOAD_MAX];
    frame[0] = FRAME_SOF;
    frame[1] = rx.length;
    frame[2] = rx.group;
    frame[3] = rx.command;
    std::memcpy(frame + 4, rx.payload, rx.length);
    frame[4 + rx.length] = rx.fcs;
    observer(FrameDirection::RECEIVED, frame, FRAME_OVERHEAD + rx.length);
}

uint8_t nextState(FrameReceiver& rx, uint8_t state, uint8_t b) {
    switch (state) {
        case RX_HUNT:
            if (b != FRAME_SOF) {
                return RX_HUNT;
            }
            noteAnswerStarted();
            rx.fcs = 0;
            rx.received = 0;
            return RX_LENGTH;
        case RX_LENGTH:
            rx.length = b;
            rx.fcs ^= b;
            return RX_GROUP;
        case RX_GROUP:
            // Taken into the FCS as received, never compared with FRAME_GROUP.
            rx.group = b;
            rx.fcs ^= b;
            return RX_COMMAND;
        case RX_COMMAND:
            rx.command = b;
            rx.fcs ^= b;
            return rx.length == 0 ? uint8_t{RX_FCS} : uint8_t{RX_PAYLOAD};
        case RX_PAYLOAD: {
            rx.payload[rx.received] = b;
            rx.fcs ^= b;
            rx.received += 1;
            const uint8_t next = rx.received == rx.length ? uint8_t{RX_FCS} : uint8_t{RX_PAYLOAD};
            // A frame of 128 or more payload bytes is abandoned here; its remaining bytes
            // are hunted through, so a 0xFE among them starts a new frame.
            return rx.received == RX_PAYLOAD_MAX ? uint8_t{RX_HUNT} : next;
        }
        case RX_FCS:
            // The FCS byte is consumed either way; parsing resumes with the byte after it.
            noteAnswerReceived(FRAME_OVERHEAD + rx.length);
            if (b == rx.fcs) {
                traceReceived(rx);
                handleResponse(rx.command, rx.payload);
            }
            return RX_HUNT;
        default:
            return RX_HUNT;
    }
}

}  // namespace

int32_t frameReceiverFeed(const uint8_t* bytes, int32_t count, void* /*context*/) {
    FrameReceiver& rx = g_frameReceiver;
    for (int32_t i = 0; i < count; ++i) {
        rx.parseState.store(nextState(rx, rx.parseState.load(), bytes[i]));
    }
    // The link is to ask for one byte at a time.
    return 1;
}

}  // namespace tarnlink
