#pragma once
// Start, cancel and the worker of a download: connect, write every block, read every
// block back and compare, enable. The same worker verifies alone: connect, read back and
// compare every block, nothing written.

#include <cstddef>
#include <cstdint>

namespace tarnlink {

struct TransferContext;

/// Opens the port and the image (`imagePath` in UTF-8) and starts the download on a thread
/// of its own. Every outcome, also a failed start, arrives as exactly one notifyResult.
/// UI thread.
void startDownload(const char* imagePath, const char* portPath, uint8_t skipResetVector);

/// As startDownload, with the image given as `size` bytes in memory instead of a file:
/// nothing in them is interpreted, and they are copied before the call returns. 0 or more
/// than 262,140 bytes end in BAD_IMAGE_FILE, as an image file would. UI thread.
void startDownloadImage(const uint8_t* image, size_t size, const char* portPath,
                        uint8_t skipResetVector);

/// Compares the target's flash with `image` (copied before the call returns): the
/// download's connect and verify passes, with their time-outs and repeats, without the
/// write and enable phases. Every block is read; the result is SUCCESS when all match,
/// VERIFY_FAILED when any differs (g_transfer.verifyTally says which and how many) or the
/// target refuses a read. UI thread.
void startVerify(const uint8_t* image, size_t size, const char* portPath, uint8_t skipResetVector);

/// Asks the running transfer (either kind) to stop; it ends with DOWNLOAD_CANCELED within
/// its current wait. Never waits. UI thread.
void cancelTransfer();

/// Body of the download's worker thread; `ctx` is &g_transfer. Returns 0.
uint32_t downloadWorker(TransferContext* ctx);

}  // namespace tarnlink
