#pragma once
// A pseudo-terminal pair: the test holds the master, the code under test opens the slave
// by its path as it would open a serial port.

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::test {

class PtyPair {
public:
    /// Opens a master in raw mode; the slave path is ready to be opened. Throws on failure.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

    /// Writes all bytes to the master.
    void write(const std::vector<uint8_t>& bytes) const;
    /// Reads from the master until `count` bytes have come or `timeoutMs` has passed.
    std::vector<uint8_t> read(size_t count, int timeoutMs) const;
    /// Closes the master: the slave side sees a hang-up.
    void closeMaster();

    /// Leaves the port the way another program might have: 9600 baud, 7 data bits, odd
    /// parity, 2 stop bits, CTS/RTS and XON/XOFF flow, CR/LF mapping, echo, canonical input,
    /// output processing, and a read that returns empty. The link must undo every part.
    void setHostileLineSettings() const;
    /// The port's settings as the code that opened the slave left them (on Linux the
    /// master reports the slave's). Works while the slave is held exclusively.
    termios lineSettings() const;

private:
    int m_master = -1;
    std::string m_slavePath;
};

}  // namespace tarnlink::test
