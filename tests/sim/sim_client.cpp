#include "tests/sim/sim_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace tarnlink::test {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

}  // namespace

SimClient::SimClient(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        throw std::runtime_error("cannot open " + path);
    }
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0) {
        ::close(m_fd);
        throw std::runtime_error(path + " is not a terminal");
    }
    cfmakeraw(&tio);
    tcsetattr(m_fd, TCSANOW, &tio);
}

SimClient::~SimClient() { ::close(m_fd); }

void SimClient::send(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            throw std::runtime_error("write to the simulator failed");
        }
        done += static_cast<size_t>(n);
    }
}

std::vector<uint8_t> SimClient::read(size_t count, int timeoutMs) const {
    std::vector<uint8_t> out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const int left = msLeft(deadline);
        pollfd pfd{m_fd, POLLIN, 0};
        if (left <= 0 || poll(&pfd, 1, left) <= 0 || !(pfd.revents & POLLIN)) {
            break;
        }
        uint8_t buffer[512];
        const ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

std::vector<uint8_t> SimClient::readFor(int ms) const { return read(SIZE_MAX, ms); }

std::vector<uint8_t> SimClient::readFrame(int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto start = read(1, std::max(msLeft(deadline), 0));
        if (start.empty()) {
            return {};
        }
        if (start[0] == 0xFE) {
            break;
        }
    }
    auto length = read(1, std::max(msLeft(deadline), 0));
    if (length.empty()) {
        return {};
    }
    auto rest = read(size_t{length[0]} + 3, std::max(msLeft(deadline), 0));
    if (rest.size() != size_t{length[0]} + 3) {
        return {};
    }
    std::vector<uint8_t> frame{0xFE, length[0]};
    frame.insert(frame.end(), rest.begin(), rest.end());
    return frame;
}

std::vector<uint8_t> requestFrame(uint8_t command, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame{0xFE, static_cast<uint8_t>(payload.size()), 0x4D, command};
    frame.insert(frame.end(), payload.begin(), payload.end());
    uint8_t fcs = 0;
    for (size_t i = 1; i < frame.size(); ++i) {
        fcs ^= frame[i];
    }
    frame.push_back(fcs);
    return frame;
}

std::vector<uint8_t> writeRequest(uint16_t address, const std::vector<uint8_t>& block) {
    std::vector<uint8_t> payload{static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    payload.insert(payload.end(), block.begin(), block.end());
    return requestFrame(0x01, payload);
}

std::vector<uint8_t> readRequest(uint16_t address) {
    return requestFrame(0x02, {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)});
}

bool fcsMatches(const std::vector<uint8_t>& frame) {
    if (frame.size() < 5) {
        return false;
    }
    uint8_t fcs = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) {
        fcs ^= frame[i];
    }
    return fcs == frame.back();
}

std::vector<uint8_t> patternBlock(uint8_t seed) {
    std::vector<uint8_t> block(64);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(seed + i);
    }
    return block;
}

}  // namespace tarnlink::test
