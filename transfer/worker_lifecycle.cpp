#include "transfer/worker_lifecycle.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>

#include "link/auto_reset_event.h"
#include "link/serial_link.h"
#include "platform/utf8_file.h"
#include "protocol/frame_receiver.h"
#include "transfer/image_buffer.h"
#include "transfer/notifications.h"
#include "transfer/test_seam.h"

namespace tarnlink {

namespace {

// The path is UTF-8 (the dialog's and the command line's text); on Windows it may name
// any file, also one outside the ANSI code page. On Linux fopen of a directory in mode "rb"
// succeeds, and reading it fails only later; a directory is never an image nor a place for
// the crypt output.
std::FILE* openTransferFile(const char* path, const char* mode) {
    std::FILE* file = openUtf8File(path, mode);
    if (file == nullptr) {
        return nullptr;
    }
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// Closes the file; false when the stream could not be flushed or closed cleanly, which
// for a crypt output means the file lacks data that was counted as written.
bool closeFile(TransferContext& ctx) {
    if (std::FILE* file = ctx.file.exchange(nullptr)) {
        const bool closed = std::fclose(file) == 0;
        return closed && !TARNLINK_TEST_SEAM_FAILS(FILE_CLOSE);
    }
    return true;
}

// Runs on a reader that the close gave up on, once that reader has ended: nothing can reach
// the transfer's event, image and file any more, and a new transfer may start.
void releaseAbandonedTransfer(void* context) {
    auto& ctx = *static_cast<TransferContext*>(context);
    delete ctx.ackEvent.exchange(nullptr);
    std::free(ctx.image.exchange(nullptr));
    closeFile(ctx);
    ctx.readerOwnsTransfer.store(false);
}

// Runs on the reader thread when it has lost the port: the worker's wait ends now rather
// than after its retries. The event stays valid until the link is closed.
void notePortLost(void* context) {
    auto& ctx = *static_cast<TransferContext*>(context);
    ctx.portLost.store(true);
    if (AutoResetEvent* ack = ctx.ackEvent.load()) {
        ack->signal();
    }
}

// Ends the transfer for a lost port, unless it has ended already or the user cancelled it.
void endForLostPort(TransferContext& ctx) {
    uint8_t state = ctx.state.load();
    while (state != STATE_IDLE && state != STATE_CANCEL) {
        if (ctx.state.compare_exchange_weak(state, STATE_IDLE)) {
            ctx.result.store(SERIALPORT_ERROR);
            return;
        }
    }
}

// Closes the link. False when the close gave up on a reader stuck in its callback: that
// reader then owns the event, the image and the file, and releases them when it ends.
bool closeLink(TransferContext& ctx) {
    SerialLink* link = ctx.link.exchange(nullptr);
    if (link == nullptr) {
        return true;
    }
    // Raised before the close: the reader may end and clear it before the close returns.
    ctx.readerOwnsTransfer.store(true);
    if (!serialLinkClose(link, releaseAbandonedTransfer, &ctx)) {
        return false;
    }
    ctx.readerOwnsTransfer.store(false);
    return true;
}

}  // namespace

void startTransfer(TransferContext& ctx, const TransferStart& start) {
    // `worker` is claimed here and given back by the worker just before it reports, so a
    // start that comes while the last worker still cleans up (state already idle) cannot
    // take over the link and the file under it.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> handedFile(start.openFile, std::fclose);
    bool noWorker = false;
    if (ctx.state.load() != STATE_IDLE || !ctx.worker.compare_exchange_strong(noWorker, true)) {
        notifyResult(DOWNLOAD_IN_PROGRESS);
        return;
    }
    ctx.repeats.store(0);
    resetVerifyTally(ctx);
    if ((start.filePath == nullptr && start.imageBytes == nullptr && !handedFile) ||
        start.portPath == nullptr) {
        ctx.worker.store(false);
        return;
    }
    // A reader that an earlier close gave up on may still run the dispatcher over the last
    // transfer's file, image and event, and would share the frame receiver with a new one.
    if (ctx.readerOwnsTransfer.load()) {
        ctx.worker.store(false);
        notifyResult(SERIALPORT_ERROR);
        return;
    }
    if (start.skipResetVector) {
        ctx.skipResetVector.store(*start.skipResetVector);
    }
    ctx.verifyOnly.store(start.verifyOnly ? 1 : 0);
    // Before the open: the last transfer's reader has ended, and the new one may call the
    // receiver as soon as it runs, so a reset after the open could land in the middle of a
    // frame or be overwritten by the reader's own store.
    g_frameReceiver.parseState.store(RX_HUNT);
    ctx.awaitedAnswer.store(0);
    ctx.portLost.store(false);
    SerialLink* link =
        serialLinkOpen(start.portPath, frameReceiverFeed, nullptr, notePortLost, &ctx);
    if (link == nullptr) {
        ctx.worker.store(false);
        notifyResult(SERIALPORT_ERROR);
        return;
    }
    ctx.link.store(link);
    TARNLINK_TEST_SEAM(LINK_OPENED, 0);

    if (start.imageBytes != nullptr) {
        // Copied now: the caller's bytes need not outlive the start.
        if (const uint8_t loaded = loadImageBytes(ctx, start.imageBytes, start.imageSize);
            loaded != SUCCESS) {
            closeLink(ctx);
            ctx.worker.store(false);
            notifyResult(loaded);
            return;
        }
    } else if (handedFile) {
        ctx.file.store(handedFile.release());
    } else {
        std::FILE* file = openTransferFile(start.filePath, start.fileMode);
        if (file == nullptr) {
            closeLink(ctx);
            ctx.worker.store(false);
            notifyResult(IMAGE_FILE_ERROR);
            return;
        }
        ctx.file.store(file);
    }
    ctx.state.store(STATE_CONNECT);

    try {
        TARNLINK_TEST_SEAM(WORKER_STARTING, 0);
        // Detached: the application may end while a worker runs, and nobody joins it; the
        // worker reports its end through notifyResult.
        std::thread(start.body, &ctx).detach();
    } catch (...) {
        // std::system_error when the system has no thread to give, std::bad_alloc when the
        // thread's own record cannot be had; either way no worker runs.
        ctx.state.store(STATE_IDLE);
        if (closeLink(ctx)) {
            closeFile(ctx);
            std::free(ctx.image.exchange(nullptr));
        }
        ctx.worker.store(false);
        notifyResult(GENERAL_FAILURE);
    }
}

void finishTransfer(TransferContext& ctx) {
    // The link first: once it is closed the reader thread cannot run the dispatcher, so
    // nothing signals the event, reads the image or appends to the file any more. A reader
    // stuck in the dispatcher keeps all three and releases them when it ends; what it has
    // written to the file by then is not known, so that counts as a file not closed.
    const bool readerEnded = closeLink(ctx);
    if (readerEnded) {
        delete ctx.ackEvent.exchange(nullptr);
        std::free(ctx.image.exchange(nullptr));
    }
    const bool fileClosed = readerEnded && closeFile(ctx);
    uint8_t result = ctx.result.load();
    // Crypt data that never reached the file must not end in a success message. The image
    // of a download was only read: its close cannot undo a verified, enabled flash.
    if (!fileClosed && result == CRYPT_UPLOADED) {
        result = GENERAL_FAILURE;
        ctx.result.store(result);
    }
    ctx.worker.store(false);
    notifyResult(result);
}

void endTransferEarly(TransferContext& ctx, uint8_t result) {
    ctx.result.store(result);
    ctx.state.store(STATE_IDLE);
    finishTransfer(ctx);
}

bool createAckEvent(TransferContext& ctx) {
    auto* event = new (std::nothrow) AutoResetEvent;
    if (event != nullptr && !event->valid()) {
        delete event;
        event = nullptr;
    }
    ctx.ackEvent.store(event);
    return event != nullptr;
}

bool advanceState(TransferContext& ctx, uint8_t from, uint8_t to) {
    return ctx.state.compare_exchange_strong(from, to);
}

bool waitForAnswer(TransferContext& ctx, AutoResetEvent& ack, uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    for (;;) {
        // The token decides, not the signal: the dispatcher takes an answer first and
        // signals after its work (a crypt block's write to a slow disk), which may outlast
        // the wait. An answer taken counts, even one that came before a lost port.
        if (awaitedAnswerTaken(ctx)) {
            TARNLINK_TEST_SEAM(ANSWER_TAKEN, 0);
            return true;
        }
        if (ctx.portLost.load()) {
            endForLostPort(ctx);
            return true;
        }
        if (timedOut) {
            return false;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 ||
            ack.wait(static_cast<uint32_t>(left)) == AutoResetEvent::WaitResult::TIMEOUT) {
            timedOut = true;  // one more look at the token
            continue;
        }
        if (ctx.state.load() == STATE_IDLE && !awaitedAnswerTaken(ctx)) {
            return true;  // the dispatcher ended the transfer with a signal
        }
        // A signal that belongs to an answer taken earlier, late: wait on for the rest.
    }
}

}  // namespace tarnlink
