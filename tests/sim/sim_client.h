#pragma once
// A small host for the simulator's tests: opens the simulator's slave path raw, as the
// host would, writes request bytes and reads what comes back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::test {

class SimClient {
public:
    /// Opens `path` read-write, raw. Throws on failure.
    explicit SimClient(const std::string& path);
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    void send(const std::vector<uint8_t>& bytes) const;
    /// Reads until `count` bytes have come or `timeoutMs` has passed.
    std::vector<uint8_t> read(size_t count, int timeoutMs) const;
    /// Everything that comes within `ms`.
    std::vector<uint8_t> readFor(int ms) const;
    /// Skips to a 0xFE and reads one whole frame as its length byte announces (the FCS is
    /// not checked); empty on time-out.
    std::vector<uint8_t> readFrame(int timeoutMs = 2000) const;

private:
    int m_fd = -1;
};

/// A request frame built by hand: FE, length, 4D, command, payload, XOR of the middle.
std::vector<uint8_t> requestFrame(uint8_t command, const std::vector<uint8_t>& payload);
std::vector<uint8_t> writeRequest(uint16_t address, const std::vector<uint8_t>& block);
std::vector<uint8_t> readRequest(uint16_t address);
/// True when the frame's last byte is the XOR of its length byte up to its payload.
bool fcsMatches(const std::vector<uint8_t>& frame);
/// A block of 64 bytes: seed, seed + 1, ...
std::vector<uint8_t> patternBlock(uint8_t seed);

}  // namespace tarnlink::test
