#include "transfer/crypt_worker.h"

#include <cstdio>

#include "link/auto_reset_event.h"
#include "protocol/frame.h"
#include "transfer/notifications.h"
#include "transfer/test_seam.h"
#include "transfer/transfer_context.h"
#include "transfer/worker_lifecycle.h"

namespace tarnlink {

namespace {

constexpr uint32_t CRYPT_REQUEST_WAIT_MS = 6000;
constexpr uint32_t BLOCK_WAIT_MS = 500;

}  // namespace

void startCryptReadBack(const char* outputPath, const char* portPath) {
    TransferStart start;
    start.filePath = outputPath;
    start.fileMode = "wb";
    start.portPath = portPath;
    start.body = cryptWorker;
    startTransfer(g_transfer, start);
}

void startCryptReadBackInto(std::FILE* output, const char* portPath) {
    TransferStart start;
    start.openFile = output;
    start.portPath = portPath;
    start.body = cryptWorker;
    startTransfer(g_transfer, start);
}

uint32_t cryptWorker(TransferContext* ctx) {
    TransferContext& c = *ctx;
    if (!createAckEvent(c)) {
        endTransferEarly(c, GENERAL_FAILURE);
        return 0;
    }
    AutoResetEvent& ack = *c.ackEvent.load();
    c.packetIndex.store(0);
    c.address.store(0);
    TARNLINK_TEST_SEAM(COUNTERS_PRESET, 0);
    c.result.store(GENERAL_FAILURE);

    for (;;) {
        const uint8_t state = c.state.load();
        uint32_t waitMs = BLOCK_WAIT_MS;
        if (state == STATE_IDLE) {
            // Ended by the dispatcher (or never begun): its result stands.
            break;
        }
        if (state == STATE_CONNECT) {
            showStatus("Requesting crypt...");
            // The dispatcher accepts the crypt answer only in STATE_CRYPT, so the state
            // changes before the request goes out; a cancel stored meanwhile wins.
            if (!advanceState(c, STATE_CONNECT, STATE_CRYPT)) {
                continue;
            }
            expectAnswer(c, CMD_CRYPT);
            sendCryptRequest();
            waitMs = CRYPT_REQUEST_WAIT_MS;
        } else if (state == STATE_CRYPT) {
            const uint16_t packetIndex = c.packetIndex.load();
            char text[48];
            std::snprintf(text, sizeof text, "Reading crypto binary: %d",
                          static_cast<int>(packetIndex));
            showStatus(text);
            if (packetIndex != 0) {
                c.address.store(static_cast<uint16_t>(c.address.load() + 16));
            }
            expectAnswer(c, CMD_READ, c.address.load());
            sendRead(c.address.load());
            setProgress(packetIndex / 40u);
            c.packetIndex.store(static_cast<uint16_t>(packetIndex + 1));
        } else {
            c.result.store(DOWNLOAD_CANCELED);
            c.state.store(STATE_IDLE);
            break;
        }

        // No repeats: the first silence ends the read-back. A wait that runs out after
        // the dispatcher ended it or the user cancelled goes on as if signalled.
        if (!waitForAnswer(c, ack, waitMs) && advanceState(c, STATE_CRYPT, STATE_IDLE)) {
            c.result.store(TARGET_TIMEOUT);
            break;
        }
        if (c.state.load() == STATE_IDLE) {
            break;
        }
    }
    finishTransfer(c);
    return 0;
}

}  // namespace tarnlink
