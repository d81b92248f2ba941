#pragma once
// What the simulated boot loader does with one request frame: its flash, its crypt mode,
// and the faults it was told to show. No input/output here; the target's thread feeds it
// frames and sends what it returns.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "sim/sim_frame.h"
#include "sim/sim_target.h"

namespace tarnlink::sim {

inline constexpr size_t SIM_BLOCK_BYTES = 64;
inline constexpr size_t SIM_FLASH_BLOCKS = 4096;
inline constexpr size_t SIM_FLASH_BYTES = SIM_BLOCK_BYTES * SIM_FLASH_BLOCKS;

/// Status bytes of the answers: 0 success, 1 refused (fault, end of crypt data), 2 an
/// address outside the flash.
inline constexpr uint8_t SIM_STATUS_OK = 0;
inline constexpr uint8_t SIM_STATUS_REFUSED = 1;
inline constexpr uint8_t SIM_STATUS_OUT_OF_RANGE = 2;

/// The bytes to send for one request, in order: noise chunks and answer frames.
struct SimReply {
    struct Chunk {
        std::vector<uint8_t> bytes;
        bool isFrame = false;  ///< false: noise between frames
    };
    std::vector<Chunk> chunks;
    /// An answer that ends a transfer goes out intact in this reply (enable answered, or a
    /// non-zero status: refused write or crypt, failed read, end of the crypt data).
    bool endsTransfer = false;
    /// How long after the request the answers leave (--delay-ms plus --jitter-ms).
    uint32_t delayMs = 0;
};

class BootLoader {
public:
    explicit BootLoader(const SimOptions& options);

    /// Fills the flash from offset 0; false when `bytes` does not fit. The preloaded blocks
    /// count as written.
    bool preload(const std::vector<uint8_t>& bytes);
    /// Handles one good frame from the host; returns what to send (possibly nothing).
    SimReply handle(const SimFrame& frame);
    /// The flash up to the last written block.
    std::vector<uint8_t> flash() const;
    /// The byte changed by --corrupt-block, and the XOR mask applied to it (seed-derived).
    size_t corruptOffset() const { return m_corruptOffset; }
    uint8_t corruptMask() const { return m_corruptMask; }

private:
    std::vector<uint8_t> answerWrite(const std::vector<uint8_t>& payload, bool& ends);
    std::vector<uint8_t> answerRead(const std::vector<uint8_t>& payload, bool& ends);
    std::vector<uint8_t> readPayload(uint8_t status, uint16_t address,
                                     const uint8_t* block) const;
    void addFrame(SimReply& reply, std::vector<uint8_t> frame, bool ends);

    SimOptions m_options;
    std::mt19937_64 m_random;
    size_t m_corruptOffset = 0;
    uint8_t m_corruptMask = 1;
    std::vector<uint8_t> m_flash;
    size_t m_usedBlocks = 0;
    bool m_cryptMode = false;
    std::vector<uint8_t> m_crypt;
    size_t m_cryptCursor = 0;
    // Counters of arrival, from 1: every good frame, then per kind; and every answer frame.
    uint32_t m_requests = 0;
    uint32_t m_handshakes = 0;
    uint32_t m_writes = 0;
    uint32_t m_reads = 0;
    uint32_t m_responses = 0;
};

}  // namespace tarnlink::sim
