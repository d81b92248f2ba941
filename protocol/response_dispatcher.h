#pragma once
// Turns each good response frame into its effect on the running transfer: acknowledge the
// request in flight (signal ackEvent), end the transfer with a result, or ignore it. An
// acknowledgement is given at most once per request: the dispatcher takes the answer that
// the worker armed before it sent (expectAnswer), and a response with nothing to take is
// ignored. In a verify on its own (TransferContext::verifyOnly) a read-back block that
// differs is counted in the verify tally and acknowledged like one that matches.

#include <cstdint>

namespace tarnlink {

/// Acts on one response against g_transfer. `payload` points into the receiver's buffer
/// (at least 67 readable bytes). Reader thread only.
void handleResponse(uint8_t command, const uint8_t* payload);

/// Compares a read-back block with the image block g_transfer.packetIndex: SUCCESS,
/// GENERAL_FAILURE at the first difference, OUT_OF_SEQUENCE when no read of `blockAddress`
/// is awaited (none in flight, another address, or already answered) or the block lies
/// outside the image. Reader thread only.
uint8_t verifyBlock(uint16_t blockAddress, const uint8_t* data);

}  // namespace tarnlink
