#pragma once
// The target's end of a pseudo-terminal: the master it serves, and the slave path the host
// opens as its serial port.

#include <string>

namespace tarnlink::sim {

class SimPty {
public:
    SimPty() = default;
    ~SimPty();  ///< closes both ends
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    /// Opens the pair, both ends raw, the master non-blocking. False on failure.
    bool open();
    /// Closes both ends; the slave path goes away. Idempotent.
    void close();
    /// Bytes written to the host that it has not read yet (0 once the pair is closed).
    int unreadByHost() const;
    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

}  // namespace tarnlink::sim
