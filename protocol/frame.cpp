#include "protocol/frame.h"

#include <cstring>

namespace tarnlink {

size_t buildFrame(uint8_t command, const uint8_t* payload, uint8_t length, uint8_t* out) {
    out[0] = FRAME_SOF;
    out[1] = length;
    out[2] = FRAME_GROUP;
    out[3] = command;
    if (length != 0) {
        std::memcpy(out + 4, payload, length);
    }
    // The FCS covers everything between the start byte and itself.
    uint8_t fcs = 0;
    for (size_t i = 1; i < 4u + length; ++i) {
        fcs ^= out[i];
    }
    out[4 + length] = fcs;
    return FRAME_OVERHEAD + length;
}

}  // namespace tarnlink
