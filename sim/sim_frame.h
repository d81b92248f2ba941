#pragma once
// The target's own view of the frame format: a builder for its answers and a byte-wise
// parser for the host's requests. Kept apart from the host's code on purpose, so that a
// mistake on one side shows up as a disagreement instead of cancelling out.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarnlink::sim {

inline constexpr uint8_t SIM_SOF = 0xFE;
inline constexpr uint8_t SIM_GROUP = 0x4D;
inline constexpr uint8_t SIM_RSP_BIT = 0x80;

inline constexpr uint8_t SIM_CMD_WRITE = 0x01;
inline constexpr uint8_t SIM_CMD_READ = 0x02;
inline constexpr uint8_t SIM_CMD_ENABLE = 0x03;
inline constexpr uint8_t SIM_CMD_HANDSHAKE = 0x04;
inline constexpr uint8_t SIM_CMD_PROBE = 0x10;
inline constexpr uint8_t SIM_CMD_CRYPT = 0x20;

/// One parsed frame: the command byte and its payload.
struct SimFrame {
    uint8_t command = 0;
    std::vector<uint8_t> payload;
};

/// Builds the bytes of one frame: FE, length, 4D, command, payload, XOR of length..payload.
/// `payload` holds at most 255 bytes.
std::vector<uint8_t> encodeSimFrame(uint8_t command, const std::vector<uint8_t>& payload);

/// Parses a byte stream into frames. Bytes before a start byte are skipped; a frame with a
/// wrong FCS is dropped, and the byte after it is looked at as a possible start byte.
class SimFrameParser {
public:
    /// Feeds one byte; returns the frame that this byte completes with a good FCS.
    std::optional<SimFrame> feed(uint8_t byte);
    /// Frames dropped for a wrong FCS so far.
    uint32_t droppedFrames() const { return m_dropped; }
    /// The raw bytes of the frame in progress or just completed (for the log).
    const std::vector<uint8_t>& rawFrame() const { return m_raw; }

private:
    enum class Stage { Hunt, Length, Group, Command, Payload, Fcs };
    Stage m_stage = Stage::Hunt;
    uint8_t m_length = 0;
    uint8_t m_fcs = 0;
    SimFrame m_frame;
    std::vector<uint8_t> m_raw;
    uint32_t m_dropped = 0;
};

}  // namespace tarnlink::sim
