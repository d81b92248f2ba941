#pragma once
// The byte-wise receiver of response frames. It keeps its state in one global record so
// a frame may arrive split over any number of calls, and hands every frame whose FCS
// matches to handleResponse, in place.

#include <atomic>
#include <cstdint>

namespace tarnlink {

inline constexpr uint32_t RX_PAYLOAD_MAX = 128;

enum ReceiverState : uint8_t {
    RX_HUNT = 0,
    RX_LENGTH = 1,
    RX_GROUP = 2,
    RX_COMMAND = 3,
    RX_PAYLOAD = 4,
    RX_FCS = 5,
};

struct FrameReceiver {
    // parseState is stored by the start operations on the user-interface thread while
    // the reader thread may run; everything else belongs to the reader thread.
    std::atomic<uint8_t> parseState{RX_HUNT};
    uint8_t command = 0;
    uint8_t length = 0;
    uint8_t fcs = 0;
    uint8_t received = 0;
    uint8_t payload[RX_PAYLOAD_MAX] = {};
    uint8_t group = 0;  ///< second header byte as received, kept only for the frame trace
};

/// The program's one frame receiver.
extern FrameReceiver g_frameReceiver;

/// RxCallback: parses `count` bytes in order; always returns 1 (read one byte at a time).
int32_t frameReceiverFeed(const uint8_t* bytes, int32_t count, void* context);

}  // namespace tarnlink
