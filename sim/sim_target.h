#pragma once
// A simulated boot loader on a pseudo-terminal: the program tarnlink-sim, and the same
// target started in-process by the tests (start it, take its port path, stop it).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnlink::sim {

/// How the target behaves. Counters K/N count from 1, in order of arrival; 0 turns a fault off.
/// What each counter counts (all requests, one kind, or answers), the crypt transform and the
/// log format: sim/README.md.
struct SimOptions {
    bool answerProbe = false;      ///< answer CMD_PROBE with 0x90 (default: leave it unanswered)
    bool silent = false;           ///< never answer anything
    uint32_t ignoreHandshakes = 0; ///< leave the first N handshakes unanswered
    uint32_t refuseWrite = 0;      ///< answer write request K with a non-zero status
    uint32_t corruptBlock = 0;     ///< read-back of block K-1 (address 16*(K-1)) has one byte changed
    uint32_t failRead = 0;         ///< answer read request K with a non-zero status
    uint32_t badFcsResponse = 0;   ///< send response K with a wrong FCS
    uint32_t dropResponse = 0;     ///< do not send response K
    uint32_t duplicateRequest = 0; ///< answer request K twice
    bool answerTwice = false;      ///< answer every request twice
    bool echo = false;             ///< send every good host frame back as it came, first
    uint32_t storeWrong = 0;       ///< acknowledge write K but store one byte of it changed
    uint8_t muteCommand = 0;       ///< requests with this command: no answer, no effect
    uint32_t wrongAddressRead = 0; ///< answer read request K with another block's address
    bool noise = false;            ///< random non-0xFE bytes between frames
    uint32_t delayMs = 0;          ///< delay every response by D ms
    uint32_t jitterMs = 0;         ///< delay every response by a further random 0..J ms
    bool refuseCrypt = false;      ///< answer CMD_CRYPT with a non-zero status
    uint32_t stopAfterFrames = 0;  ///< stop answering after N received frames
    uint32_t baud = 0;             ///< pace output and input at this rate (10 bits a byte); 0: unpaced
    uint32_t latencyTimerMs = 0;   ///< hold answers like a USB adapter's latency timer; 0: off
    uint64_t seed = 1;             ///< seed of every random choice
    bool once = false;             ///< end after one transfer
    std::string linkPath;          ///< also make a symlink to the port here
    std::string logPath;           ///< frame log file
    std::string flashIn;           ///< preload the flash from this file
    std::string flashOut;          ///< write the flash here when a transfer ends
};

/// One logged frame: when (monotonic microseconds), which way, and its bytes.
struct LoggedFrame {
    uint64_t timeUs = 0;
    bool fromHost = false;
    std::vector<uint8_t> bytes;
};

class SimTarget {
public:
    explicit SimTarget(SimOptions options = {});
    ~SimTarget();  ///< stops the target
    SimTarget(const SimTarget&) = delete;
    SimTarget& operator=(const SimTarget&) = delete;

    /// Opens the pseudo-terminal and serves it on a thread of its own. False on failure.
    bool start();
    /// Stops serving and closes the pseudo-terminal. Idempotent.
    void stop();
    /// The slave path the host opens as its serial port.
    const std::string& portPath() const;

    /// The flash up to the last written block. Any thread.
    std::vector<uint8_t> flash() const;
    /// The encrypted copy of `plain` that CMD_CRYPT prepares (the sim's documented transform).
    static std::vector<uint8_t> encrypt(const std::vector<uint8_t>& plain);
    /// Every frame in and out so far. Any thread.
    std::vector<LoggedFrame> frames() const;
    /// Transfers that have ended (an enable answered, or a crypt read-back ended).
    uint32_t transfersEnded() const;
    /// True once serving has ended by itself (`once` and a transfer has ended). Any thread.
    bool finished() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarnlink::sim
