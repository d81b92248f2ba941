#include "sim/sim_frame.h"

namespace tarnlink::sim {

std::vector<uint8_t> encodeSimFrame(uint8_t command, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes;
    bytes.reserve(payload.size() + 5);
    const auto length = static_cast<uint8_t>(payload.size());
    bytes.push_back(SIM_SOF);
    bytes.push_back(length);
    bytes.push_back(SIM_GROUP);
    bytes.push_back(command);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    uint8_t fcs = 0;
    for (size_t i = 1; i < bytes.size(); ++i) {
        fcs ^= bytes[i];
    }
    bytes.push_back(fcs);
    return bytes;
}

std::optional<SimFrame> SimFrameParser::feed(uint8_t byte) {
    switch (m_stage) {
    case Stage::Hunt:
        if (byte == SIM_SOF) {
            m_raw.assign(1, byte);
            m_stage = Stage::Length;
        }
        return std::nullopt;
    case Stage::Length:
        m_length = byte;
        m_fcs = byte;
        m_stage = Stage::Group;
        break;
    case Stage::Group:
        // Any group byte is taken into the FCS; only the FCS decides.
        m_fcs ^= byte;
        m_stage = Stage::Command;
        break;
    case Stage::Command:
        m_frame.command = byte;
        m_frame.payload.clear();
        m_fcs ^= byte;
        m_stage = m_length == 0 ? Stage::Fcs : Stage::Payload;
        break;
    case Stage::Payload:
        m_frame.payload.push_back(byte);
        m_fcs ^= byte;
        if (m_frame.payload.size() == m_length) {
            m_stage = Stage::Fcs;
        }
        break;
    case Stage::Fcs:
        m_raw.push_back(byte);
        m_stage = Stage::Hunt;
        if (byte != m_fcs) {
            ++m_dropped;
            return std::nullopt;
        }
        return m_frame;
    }
    m_raw.push_back(byte);
    return std::nullopt;
}

}  // namespace tarnlink::sim
