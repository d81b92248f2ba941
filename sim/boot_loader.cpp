#include "sim/boot_loader.h"

#include <algorithm>

#include "sim/sim_crypt.h"

namespace tarnlink::sim {
namespace {

uint16_t addressOf(const std::vector<uint8_t>& payload) {
    return static_cast<uint16_t>(payload[0] | (payload[1] << 8));
}

}  // namespace

BootLoader::BootLoader(const SimOptions& options)
    : m_options(options), m_random(options.seed), m_flash(SIM_FLASH_BYTES, 0xFF) {
    const uint64_t draw = m_random();
    m_corruptOffset = static_cast<size_t>(draw % SIM_BLOCK_BYTES);
    m_corruptMask = static_cast<uint8_t>(1 + (draw >> 8) % 255);
}

bool BootLoader::preload(const std::vector<uint8_t>& bytes) {
    if (bytes.size() > SIM_FLASH_BYTES) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), m_flash.begin());
    m_usedBlocks = std::max(m_usedBlocks, (bytes.size() + SIM_BLOCK_BYTES - 1) / SIM_BLOCK_BYTES);
    return true;
}

std::vector<uint8_t> BootLoader::flash() const {
    return {m_flash.begin(), m_flash.begin() + static_cast<long>(m_usedBlocks * SIM_BLOCK_BYTES)};
}

SimReply BootLoader::handle(const SimFrame& frame) {
    SimReply reply;
    ++m_requests;
    if (m_options.silent ||
        (m_options.stopAfterFrames != 0 && m_requests > m_options.stopAfterFrames) ||
        (m_options.muteCommand != 0 && frame.command == m_options.muteCommand)) {
        return reply;
    }
    bool ends = false;
    std::vector<uint8_t> answer;
    switch (frame.command) {
    case SIM_CMD_HANDSHAKE:
        if (++m_handshakes <= m_options.ignoreHandshakes) {
            return reply;
        }
        m_cryptMode = false;
        answer = encodeSimFrame(SIM_RSP_BIT | SIM_CMD_HANDSHAKE, {});
        break;
    case SIM_CMD_PROBE:
        if (!m_options.answerProbe) {
            return reply;
        }
        answer = encodeSimFrame(SIM_RSP_BIT | SIM_CMD_PROBE, {});
        break;
    case SIM_CMD_WRITE:
        if (frame.payload.size() < 2 + SIM_BLOCK_BYTES) {
            return reply;  // a real loader cannot act on a short write: no answer
        }
        answer = answerWrite(frame.payload, ends);
        break;
    case SIM_CMD_READ:
        if (frame.payload.size() < 2) {
            return reply;
        }
        answer = answerRead(frame.payload, ends);
        break;
    case SIM_CMD_ENABLE:
        m_cryptMode = false;
        ends = true;
        answer = encodeSimFrame(SIM_RSP_BIT | SIM_CMD_ENABLE, {});
        break;
    case SIM_CMD_CRYPT:
        if (m_options.refuseCrypt) {
            ends = true;
            answer = encodeSimFrame(SIM_RSP_BIT | SIM_CMD_CRYPT, {SIM_STATUS_REFUSED});
            break;
        }
        m_crypt = simCrypt(flash());
        m_cryptCursor = 0;
        m_cryptMode = true;
        answer = encodeSimFrame(SIM_RSP_BIT | SIM_CMD_CRYPT, {SIM_STATUS_OK});
        break;
    default:
        return reply;  // echoes, answers and unknown commands are not answered
    }
    const int copies = m_options.answerTwice || m_requests == m_options.duplicateRequest ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        addFrame(reply, answer, ends);
    }
    reply.delayMs = m_options.delayMs;
    if (m_options.jitterMs != 0) {
        reply.delayMs += static_cast<uint32_t>(m_random() % (uint64_t{m_options.jitterMs} + 1));
    }
    return reply;
}

void BootLoader::addFrame(SimReply& reply, std::vector<uint8_t> frame, bool ends) {
    ++m_responses;
    if (m_responses == m_options.dropResponse) {
        return;
    }
    if (m_options.noise) {
        std::vector<uint8_t> noise(1 + m_random() % 8);
        for (auto& byte : noise) {
            byte = static_cast<uint8_t>(m_random() % SIM_SOF);  // 0x00..0xFD, never a start byte
        }
        reply.chunks.push_back({std::move(noise), false});
    }
    const bool intact = m_responses != m_options.badFcsResponse;
    if (!intact) {
        frame.back() = static_cast<uint8_t>(~frame.back());
    }
    reply.endsTransfer = reply.endsTransfer || (ends && intact);
    reply.chunks.push_back({std::move(frame), true});
}

std::vector<uint8_t> BootLoader::answerWrite(const std::vector<uint8_t>& payload, bool& ends) {
    const uint16_t address = addressOf(payload);
    const size_t offset = size_t{address} * 4;
    uint8_t status = SIM_STATUS_OK;
    if (++m_writes == m_options.refuseWrite) {
        status = SIM_STATUS_REFUSED;
    } else if (offset + SIM_BLOCK_BYTES > SIM_FLASH_BYTES) {
        status = SIM_STATUS_OUT_OF_RANGE;
    } else {
        std::copy_n(payload.begin() + 2, SIM_BLOCK_BYTES, m_flash.begin() + static_cast<long>(offset));
        if (m_writes == m_options.storeWrong) {
            // A flash cell that did not take its value; the write is acknowledged all the same.
            m_flash[offset + m_corruptOffset] ^= m_corruptMask;
        }
        m_usedBlocks = std::max(m_usedBlocks,
                                (offset + 2 * SIM_BLOCK_BYTES - 1) / SIM_BLOCK_BYTES);
    }
    ends = status != SIM_STATUS_OK;
    return encodeSimFrame(SIM_RSP_BIT | SIM_CMD_WRITE, {status});
}

std::vector<uint8_t> BootLoader::answerRead(const std::vector<uint8_t>& payload, bool& ends) {
    const uint16_t address = addressOf(payload);
    const bool fail = ++m_reads == m_options.failRead;
    const bool wrongAddress = m_reads == m_options.wrongAddressRead;
    const uint16_t answered = wrongAddress ? static_cast<uint16_t>(address + 16) : address;
    std::vector<uint8_t> block(SIM_BLOCK_BYTES, 0xFF);
    size_t blockIndex = 0;
    uint8_t status = SIM_STATUS_OK;

    if (m_cryptMode) {
        if (fail || m_cryptCursor * SIM_BLOCK_BYTES >= m_crypt.size()) {
            status = SIM_STATUS_REFUSED;
            m_cryptMode = false;  // the host ends its read-back here
        } else {
            blockIndex = m_cryptCursor++;
            std::copy_n(m_crypt.begin() + static_cast<long>(blockIndex * SIM_BLOCK_BYTES),
                        SIM_BLOCK_BYTES, block.begin());
        }
    } else {
        const size_t offset = size_t{address} * 4;
        if (fail) {
            status = SIM_STATUS_REFUSED;
        } else if (offset + SIM_BLOCK_BYTES > SIM_FLASH_BYTES) {
            status = SIM_STATUS_OUT_OF_RANGE;
        } else {
            std::copy_n(m_flash.begin() + static_cast<long>(offset), SIM_BLOCK_BYTES,
                        block.begin());
            blockIndex = address % 16 == 0 ? address / 16 : SIM_FLASH_BLOCKS;
        }
    }
    if (status == SIM_STATUS_OK && m_options.corruptBlock != 0 &&
        blockIndex == m_options.corruptBlock - 1) {
        block[m_corruptOffset] ^= m_corruptMask;
    }
    ends = status != SIM_STATUS_OK;
    return encodeSimFrame(SIM_RSP_BIT | SIM_CMD_READ, readPayload(status, answered, block.data()));
}

std::vector<uint8_t> BootLoader::readPayload(uint8_t status, uint16_t address,
                                             const uint8_t* block) const {
    std::vector<uint8_t> payload(3 + SIM_BLOCK_BYTES);
    payload[0] = status;
    payload[1] = static_cast<uint8_t>(address & 0xFF);
    payload[2] = static_cast<uint8_t>(address >> 8);
    std::copy_n(block, SIM_BLOCK_BYTES, payload.begin() + 3);
    return payload;
}

}  // namespace tarnlink::sim
