#pragma once
// What both kinds of transfer share: the start sequence on the user-interface thread, the
// clean-up at the worker's end, and the state changes that must not lose a cancel.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "transfer/transfer_context.h"

namespace tarnlink {

/// Body of a worker thread; it gets &g_transfer and ends with finishTransfer.
using WorkerBody = uint32_t (*)(TransferContext* ctx);

/// What a start operation asks for: the file (its name in UTF-8) and how to open it ("rb"
/// for an image, "wb" for a crypt output) or, instead of a file, an image held in memory
/// (copied by the start); the port, the worker, the verify option of a download (none for
/// a read-back, which leaves it as it was), and whether the download only verifies. A
/// crypt output may also come already open (`openFile`, standard output): the start takes
/// it over and closes it, at the transfer's end or at once when the start fails.
struct TransferStart {
    const char* filePath = nullptr;
    const char* fileMode = nullptr;
    std::FILE* openFile = nullptr;
    const uint8_t* imageBytes = nullptr;
    size_t imageSize = 0;
    const char* portPath = nullptr;
    WorkerBody body = nullptr;
    std::optional<uint8_t> skipResetVector;
    bool verifyOnly = false;
};

/// Refuses while a transfer runs (DOWNLOAD_IN_PROGRESS) and while a reader that a close
/// gave up on still holds the last transfer's data (SERIALPORT_ERROR), opens the link and the
/// file (or copies the image given in memory: BAD_IMAGE_FILE for 0 or more than 262,140
/// bytes), sets STATE_CONNECT and starts the worker on a detached thread. A failed start
/// undoes what it opened and reports at once through notifyResult; a null path (and no
/// image in memory) does nothing. User-interface thread.
void startTransfer(TransferContext& ctx, const TransferStart& start);

/// The worker's end, with `state` already STATE_IDLE: closes the link (which stops the
/// reader thread), then releases ackEvent, the image and the file, clears `worker` and
/// reports `result`. When the close gives up on a reader stuck in its callback, that reader
/// releases the three when it ends, and a crypt output counts as not closed. Worker thread,
/// its last act.
void finishTransfer(TransferContext& ctx);

/// Ends the transfer before its exchange began: records `result`, leaves STATE_IDLE and
/// runs finishTransfer. Worker thread, its last act.
void endTransferEarly(TransferContext& ctx, uint8_t result);

/// Creates the worker's fresh ackEvent. False when it cannot be had; the worker then
/// ends with GENERAL_FAILURE. Worker thread.
bool createAckEvent(TransferContext& ctx);

/// Stores `to` only while `state` still holds `from`, so a STATE_CANCEL or a dispatcher's
/// STATE_IDLE stored meanwhile is not overwritten. True when the store happened.
bool advanceState(TransferContext& ctx, uint8_t from, uint8_t to);

/// Waits at most `timeoutMs` for the answer armed with expectAnswer before the send. True
/// once the dispatcher has taken it (even when its signal comes after the time ran out), or
/// has ended the transfer with a signal, or when the link has lost the port: the transfer
/// then ends here with SERIALPORT_ERROR, unless it has ended or was cancelled. A signal left
/// over from an earlier answer does not end the wait. False when the time ran out.
/// Worker thread.
bool waitForAnswer(TransferContext& ctx, AutoResetEvent& ack, uint32_t timeoutMs);

}  // namespace tarnlink
