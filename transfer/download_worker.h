#pragma once
// Start, cancel and the worker of a download: connect, write every block, read every
// block back and compare, enable.

#include <cstdint>

namespace tarnlink {

struct TransferContext;

/// Opens the port and the image (`imagePath` in UTF-8) and starts the download on a thread
/// of its own. Every outcome, also a failed start, arrives as exactly one notifyResult.
/// UI thread.
void startDownload(const char* imagePath, const char* portPath, uint8_t skipResetVector);

/// Asks the running transfer (either kind) to stop; it ends with DOWNLOAD_CANCELED within
/// its current wait. Never waits. UI thread.
void cancelTransfer();

/// Body of the download's worker thread; `ctx` is &g_transfer. Returns 0.
uint32_t downloadWorker(TransferContext* ctx);

}  // namespace tarnlink
