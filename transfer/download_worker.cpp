#include "transfer/download_worker.h"

#include <cstdio>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "transfer/image_buffer.h"
#include "transfer/notifications.h"
#include "transfer/test_seam.h"
#include "transfer/transfer_context.h"
#include "transfer/worker_lifecycle.h"

namespace tarnlink {

namespace {

constexpr uint32_t CONNECT_WAIT_MS = 50;
constexpr uint32_t BLOCK_WAIT_MS = 500;
constexpr uint32_t CONNECT_RETRIES = 200;
constexpr uint32_t BLOCK_RETRIES = 5;

void showPacketStatus(const char* format, uint16_t packetIndex) {
    char text[48];
    std::snprintf(text, sizeof text, format, static_cast<int>(packetIndex));
    showStatus(text);
}

// Progress of the block at `address` within a phase that spans `span` percent: 0..span-1
// in 32-bit arithmetic.
int32_t phaseProgress(uint16_t address, uint16_t imageWords, int32_t span = 50) {
    return static_cast<int32_t>(address) * span / static_cast<int32_t>(imageWords);
}

// The last block of a verify on its own has been read: the verdict over all blocks, and a
// cancel that comes now has nothing left to stop. A verify that a lost port ended already
// (the wait returns for that too) keeps its result.
void finishVerify(TransferContext& c) {
    const uint8_t verdict = c.verifyTally.differing.load() == 0 ? SUCCESS : VERIFY_FAILED;
    uint8_t state = c.state.load();
    while (state != STATE_IDLE) {
        if (c.state.compare_exchange_weak(state, STATE_IDLE)) {
            c.result.store(verdict);
            return;
        }
    }
}

bool isLastBlock(uint16_t address, uint16_t imageWords) {
    return static_cast<uint32_t>(address) + BLOCK_WORDS >= imageWords;
}

}  // namespace

void startDownload(const char* imagePath, const char* portPath, uint8_t skipResetVector) {
    TransferStart start;
    start.filePath = imagePath;
    start.fileMode = "rb";
    start.portPath = portPath;
    start.body = downloadWorker;
    start.skipResetVector = skipResetVector;
    startTransfer(g_transfer, start);
}

namespace {

TransferStart imageInMemory(const uint8_t* image, size_t size, const char* portPath,
                            uint8_t skipResetVector, bool verifyOnly) {
    TransferStart start;
    start.imageBytes = image;
    start.imageSize = size;
    start.portPath = portPath;
    start.body = downloadWorker;
    start.skipResetVector = skipResetVector;
    start.verifyOnly = verifyOnly;
    return start;
}

}  // namespace

void startDownloadImage(const uint8_t* image, size_t size, const char* portPath,
                        uint8_t skipResetVector) {
    startTransfer(g_transfer, imageInMemory(image, size, portPath, skipResetVector, false));
}

void startVerify(const uint8_t* image, size_t size, const char* portPath, uint8_t skipResetVector) {
    startTransfer(g_transfer, imageInMemory(image, size, portPath, skipResetVector, true));
}

void cancelTransfer() {
    // Only a running transfer becomes STATE_CANCEL; a transfer that ends at this very
    // moment (STATE_IDLE stored by another thread) must stay idle.
    uint8_t state = g_transfer.state.load();
    while (state != STATE_IDLE && !g_transfer.state.compare_exchange_weak(state, STATE_CANCEL)) {
    }
}

uint32_t downloadWorker(TransferContext* ctx) {
    TransferContext& c = *ctx;
    if (!createAckEvent(c)) {
        endTransferEarly(c, GENERAL_FAILURE);
        return 0;
    }
    // An image given in memory was loaded by the start.
    if (const uint8_t loaded = c.image.load() != nullptr ? uint8_t{SUCCESS} : loadImage(c);
        loaded != SUCCESS) {
        endTransferEarly(c, loaded);
        return 0;
    }
    AutoResetEvent& ack = *c.ackEvent.load();
    c.packetIndex.store(0xFFFF);
    c.address.store(0);
    TARNLINK_TEST_SEAM(COUNTERS_PRESET, 0);
    c.result.store(GENERAL_FAILURE);
    if (c.state.load() == STATE_IDLE) {
        finishTransfer(c);
        return 0;
    }
    const uint16_t imageWords = c.imageWords.load();
    // A verify on its own skips from connect to the read-back and ends after its last block.
    const bool verifyOnly = c.verifyOnly.load() != 0;

    uint32_t waitMs = 0;
    uint32_t retries = 0;
    uint32_t budget = 0;
    uint8_t sentIn = STATE_IDLE;  // the state in which the outstanding request went out
    uint8_t nextState = STATE_IDLE;
    const uint8_t* block = nullptr;

    for (;;) {
        if (waitMs != 0) {
            if (waitForAnswer(c, ack, waitMs)) {
                retries = 0;
                budget = BLOCK_RETRIES;
                if (nextState == STATE_IDLE && verifyOnly) {
                    finishVerify(c);
                } else if (nextState == STATE_IDLE) {
                    // The enable was answered: the download is complete, and a cancel
                    // that comes now has nothing left to stop.
                    c.state.store(STATE_IDLE);
                } else {
                    advanceState(c, sentIn, nextState);
                }
            } else {
                const uint8_t state = c.state.load();
                if (state != STATE_IDLE && state != STATE_CANCEL && retries++ >= budget &&
                    advanceState(c, state, STATE_IDLE)) {
                    c.result.store(TARGET_TIMEOUT);
                }
                if ((state == STATE_WRITE || state == STATE_VERIFY || state == STATE_ENABLE) &&
                    c.state.load() == state) {
                    c.repeats.fetch_add(1);  // the pass below sends the same request again
                }
            }
        }

        const uint8_t state = c.state.load();
        switch (state) {
            case STATE_CONNECT:
                // Probe and handshake alternate; only the handshake's answer counts.
                expectAnswer(c, CMD_HANDSHAKE);
                if (retries % 2 == 0) {
                    sendProbe();
                } else {
                    sendHandshake();
                }
                showStatus("Connecting to target...");
                nextState = verifyOnly ? STATE_VERIFY_START : STATE_WRITE;
                waitMs = CONNECT_WAIT_MS;
                budget = CONNECT_RETRIES;
                break;
            case STATE_WRITE:
                if (retries == 0 || block == nullptr) {
                    block = nextWriteBlock(c);
                    setProgress(static_cast<unsigned>(phaseProgress(c.address.load(), imageWords)));
                }
                showPacketStatus("Sending Data Packet %d", c.packetIndex.load());
                expectAnswer(c, CMD_WRITE);
                sendWrite(c.address.load(), block);
                nextState =
                    isLastBlock(c.address.load(), imageWords) ? STATE_VERIFY_START : STATE_WRITE;
                waitMs = BLOCK_WAIT_MS;
                break;
            case STATE_VERIFY_START:
                c.address.store(0xFFF0);
                c.packetIndex.store(0xFFFF);
                advanceState(c, STATE_VERIFY_START, STATE_VERIFY);
                nextState = STATE_VERIFY;
                waitMs = 0;
                break;
            case STATE_VERIFY:
                if (retries == 0) {
                    c.address.store(static_cast<uint16_t>(c.address.load() + BLOCK_WORDS));
                    c.packetIndex.store(static_cast<uint16_t>(c.packetIndex.load() + 1));
                    // A load's read-back is its second half; a verify's, the whole of it.
                    const uint16_t address = c.address.load();
                    const int32_t progress = verifyOnly ? phaseProgress(address, imageWords, 100)
                                                        : phaseProgress(address, imageWords) + 50;
                    setProgress(static_cast<unsigned>(progress) & 0xFF);
                }
                showPacketStatus("Verifying Data Packet %d", c.packetIndex.load());
                expectAnswer(c, CMD_READ, c.address.load());
                sendRead(c.address.load());
                if (!isLastBlock(c.address.load(), imageWords)) {
                    nextState = STATE_VERIFY;
                } else {
                    nextState = verifyOnly ? STATE_IDLE : STATE_ENABLE;
                }
                waitMs = BLOCK_WAIT_MS;
                budget = BLOCK_RETRIES;
                break;
            case STATE_ENABLE:
                expectAnswer(c, CMD_ENABLE);
                sendEnable();
                nextState = STATE_IDLE;
                budget = BLOCK_RETRIES;
                break;
            case STATE_CANCEL:
                c.result.store(DOWNLOAD_CANCELED);
                c.state.store(STATE_IDLE);
                break;
            case STATE_IDLE:
                break;
            default:
                // No state of a read-back belongs in a download; end it as it stands.
                advanceState(c, state, STATE_IDLE);
                break;
        }
        sentIn = state;

        if (c.state.load() == STATE_IDLE) {
            break;
        }
    }
    finishTransfer(c);
    return 0;
}

}  // namespace tarnlink
