#pragma once
// Turns each good response frame into its effect on the running transfer: acknowledge the
// request in flight (signal ackEvent), end the transfer with a result, or ignore it.

#include <cstdint>

namespace tarnlink {

/// Acts on one response against g_transfer. `payload` points into the receiver's buffer
/// (at least 67 readable bytes). Reader thread only.
void handleResponse(uint8_t command, const uint8_t* payload);

/// Compares a read-back block with the image block g_transfer.packetIndex: SUCCESS,
/// GENERAL_FAILURE at the first difference, OUT_OF_SEQUENCE when `blockAddress` is not the
/// address in flight or the block lies outside the image. Reader thread only.
uint8_t verifyBlock(uint16_t blockAddress, const uint8_t* data);

}  // namespace tarnlink
