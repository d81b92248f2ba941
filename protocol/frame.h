#pragma once
// The boot loader's frame: FE, length n, group 4D, command, n payload bytes, FCS (XOR of
// length, group, command and payload). No escaping; multi-byte values little-endian.

#include <cstddef>
#include <cstdint>

namespace tarnlink {

inline constexpr uint8_t FRAME_SOF = 0xFE;
inline constexpr uint8_t FRAME_GROUP = 0x4D;
inline constexpr uint8_t RSP_BIT = 0x80;
inline constexpr size_t FRAME_OVERHEAD = 5;
inline constexpr uint8_t FRAME_PAYLOAD_MAX = 250;
inline constexpr size_t FRAME_MAX = FRAME_PAYLOAD_MAX + FRAME_OVERHEAD;

enum Command : uint8_t {
    CMD_WRITE = 0x01,
    CMD_READ = 0x02,
    CMD_ENABLE = 0x03,
    CMD_HANDSHAKE = 0x04,
    CMD_PROBE = 0x10,
    CMD_CRYPT = 0x20,
};

/// Builds one frame into `out` (room for length + 5 bytes) and returns its size. Pure.
size_t buildFrame(uint8_t command, const uint8_t* payload, uint8_t length, uint8_t* out);

/// Builds a frame and writes it to g_transfer.link; failures are dropped without a word
/// (the worker's time-out covers them). Worker thread only; returns once written.
void sendFrame(uint8_t command, const uint8_t* payload, uint8_t length);

void sendWrite(uint16_t address, const uint8_t* block);  ///< CMD_WRITE, 64-byte block
void sendRead(uint16_t address);                         ///< CMD_READ
void sendEnable();                                       ///< CMD_ENABLE
void sendHandshake();                                    ///< CMD_HANDSHAKE, payload 02
void sendProbe();                                        ///< CMD_PROBE, payload 00
void sendCryptRequest();                                 ///< CMD_CRYPT

}  // namespace tarnlink
