#pragma once
// The three calls through which the dialog drives the transfer engine. The dialog takes
// them as a table so that a test can count the calls; the program uses the real engine.

#include <cstdint>

namespace tarnlink {

struct TransferEngine {
    void (*startDownload)(const char* imagePath, const char* portPath, uint8_t skipResetVector);
    void (*startCryptReadBack)(const char* outputPath, const char* portPath);
    void (*cancelTransfer)();
};

/// startDownload, startCryptReadBack and cancelTransfer of the transfer engine. Static.
const TransferEngine& realTransferEngine();

/// True while the engine has a transfer under way (a worker runs or the state is not idle).
/// Any thread.
bool transferRunning();

}  // namespace tarnlink
