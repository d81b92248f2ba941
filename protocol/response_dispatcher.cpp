#include "protocol/response_dispatcher.h"

#include <cerrno>
#include <cstdio>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "transfer/test_seam.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

constexpr size_t STATUS = 0;
constexpr size_t ADDRESS_LOW = 1;
constexpr size_t ADDRESS_HIGH = 2;
constexpr size_t BLOCK_DATA = 3;
constexpr uint16_t RESET_VECTOR_BYTES = 3;

// The worker may create the event only after the link is open, so a frame can come first.
void signalAck() {
    if (AutoResetEvent* event = g_transfer.ackEvent.load()) {
        event->signal();
    }
}

// Ends the transfer without a signal; the worker notices when its wait runs out. The
// result goes first: a worker that finds STATE_IDLE reads the result right after.
void endTransfer(uint8_t result) {
    g_transfer.result.store(result);
    g_transfer.state.store(STATE_IDLE);
}

uint16_t blockAddressOf(const uint8_t* payload) {
    return static_cast<uint16_t>(payload[ADDRESS_LOW] | (payload[ADDRESS_HIGH] << 8));
}

void verifyRead(const uint8_t* payload) {
    const uint16_t blockAddress = blockAddressOf(payload);
    // Fixed order: the comparison first, then the status, and only then the address. A
    // verify on its own goes on past a differing block to count them all; a refused read
    // ends it as it ends a load.
    const uint8_t verdict = verifyBlock(blockAddress, payload + BLOCK_DATA);
    const bool differs = verdict == GENERAL_FAILURE;
    const bool verifyOnly = g_transfer.verifyOnly.load() != 0;
    if ((differs && !verifyOnly) || payload[STATUS] != 0) {
        endTransfer(VERIFY_FAILED);
        return;
    }
    if (verdict == OUT_OF_SEQUENCE) {
        return;
    }
    // Counted before the answer is taken, so that a worker that sees it taken finds it in
    // the tally. The block is still awaited here: only this thread takes answers, and the
    // worker arms nothing but this same read again while it waits.
    if (verifyOnly) {
        countVerifiedBlock(g_transfer, g_transfer.packetIndex.load(), blockAddress, differs);
    }
    // Taken only after the comparison: once the worker sees its answer taken, the block
    // it asked for has been compared. A second answer to the same read finds nothing left
    // to take.
    if (!takeAwaitedAnswer(g_transfer, CMD_READ, blockAddress)) {
        return;
    }
    TARNLINK_TEST_SEAM(READ_ACCEPTED, blockAddress);
    signalAck();
}

void cryptRead(const uint8_t* payload) {
    // One answer per read request, for the read in flight: a second answer to a block is
    // not appended again, and a refusal left over from an earlier read (a repeated end
    // marker still on the line when the next read-back starts) cannot end this one.
    const uint16_t blockAddress = blockAddressOf(payload);
    if (!takeAwaitedAnswer(g_transfer, CMD_READ, blockAddress)) {
        return;
    }
    if (payload[STATUS] != 0) {
        // A refused read marks the end of the encrypted image.
        g_transfer.result.store(CRYPT_UPLOADED);
        g_transfer.state.store(STATE_IDLE);
        signalAck();
        return;
    }
    // Flush each block: a full disk must end the read-back now, not vanish in the buffer.
    std::FILE* file = g_transfer.file.load();
    CryptOutputObserver* observer = g_transfer.cryptOutputObserver.load();
    errno = 0;
    if (file == nullptr || std::fwrite(payload + BLOCK_DATA, 1, BLOCK_BYTES, file) != BLOCK_BYTES ||
        std::fflush(file) != 0) {
        if (observer != nullptr) {
            observer->writeFailed(errno);
        }
        endTransfer(GENERAL_FAILURE);
        return;
    }
    if (observer != nullptr) {
        observer->blockWritten(payload + BLOCK_DATA, BLOCK_BYTES);
    }
    TARNLINK_TEST_SEAM(READ_ACCEPTED, blockAddress);
    signalAck();
}

// Any other answer the worker waits for: accepted once per request, then signalled.
void acknowledge(uint8_t command) {
    if (takeAwaitedAnswer(g_transfer, command)) {
        TARNLINK_TEST_SEAM(ANSWER_ACCEPTED, command);
        signalAck();
    }
}

}  // namespace

uint8_t verifyBlock(uint16_t blockAddress, const uint8_t* data) {
    // The read in flight is the one the worker armed; while it waits, packetIndex names
    // that same block.
    if (!isAwaitedAnswer(g_transfer, CMD_READ, blockAddress)) {
        return OUT_OF_SEQUENCE;
    }
    // A response that no request asked for may name a block the image does not have.
    const uint8_t* image = g_transfer.image.load();
    const uint32_t blocks = (g_transfer.imageWords.load() + BLOCK_WORDS - 1) / BLOCK_WORDS;
    const uint32_t index = g_transfer.packetIndex.load();
    if (image == nullptr || index >= blocks) {
        return OUT_OF_SEQUENCE;
    }
    const uint8_t* block = image + index * BLOCK_BYTES;
    const uint32_t first =
        (g_transfer.skipResetVector.load() != 0 && blockAddress == 0) ? RESET_VECTOR_BYTES : 0;
    for (uint32_t i = first; i < BLOCK_BYTES; ++i) {
        if (data[i] != block[i]) {
            return GENERAL_FAILURE;
        }
    }
    return SUCCESS;
}

void handleResponse(uint8_t command, const uint8_t* payload) {
    if ((command & RSP_BIT) == 0) {
        return;
    }
    const uint8_t state = g_transfer.state.load();
    switch (command & ~RSP_BIT) {
        case CMD_HANDSHAKE:
            if (state == STATE_CONNECT) {
                acknowledge(CMD_HANDSHAKE);
            }
            break;
        case CMD_WRITE:
            // No address is looked at: a good write response acknowledges the block in
            // flight, whichever block it answers.
            if (state == STATE_WRITE) {
                if (payload[STATUS] == 0) {
                    acknowledge(CMD_WRITE);
                } else {
                    endTransfer(GENERAL_FAILURE);
                }
            }
            break;
        case CMD_READ:
            if (state == STATE_VERIFY) {
                verifyRead(payload);
            } else if (state == STATE_CRYPT) {
                cryptRead(payload);
            }
            break;
        case CMD_ENABLE:
            if (state == STATE_ENABLE && takeAwaitedAnswer(g_transfer, CMD_ENABLE)) {
                g_transfer.result.store(SUCCESS);
                TARNLINK_TEST_SEAM(ANSWER_ACCEPTED, CMD_ENABLE);
                signalAck();
            }
            break;
        case CMD_CRYPT:
            if (state == STATE_CRYPT) {
                if (payload[STATUS] == 0) {
                    acknowledge(CMD_CRYPT);
                } else {
                    endTransfer(GENERAL_FAILURE);
                }
            }
            break;
        default:
            // Includes 0x90: only the handshake response acknowledges a connect attempt.
            break;
    }
    TARNLINK_TEST_SEAM(RESPONSE_HANDLED,
                       static_cast<uint32_t>(command) << 16 | blockAddressOf(payload));
}

}  // namespace tarnlink
