#pragma once
// Start and worker of a crypt read-back: one crypt request, then block reads at rising
// addresses until the target marks the end; the dispatcher appends each block to the file.

#include <cstdint>
#include <cstdio>

namespace tarnlink {

struct TransferContext;

/// Opens the port, creates (or cuts to 0) the output file (`outputPath` in UTF-8) and
/// starts the read-back on a thread of its own. Every outcome arrives as exactly one
/// notifyResult. UI thread.
void startCryptReadBack(const char* outputPath, const char* portPath);

/// The same into `output`, a stream already open for writing (standard output); the
/// read-back takes it over and closes it at its end, or at once when the start fails.
void startCryptReadBackInto(std::FILE* output, const char* portPath);

/// Body of the read-back's worker thread; `ctx` is &g_transfer. Returns 0.
uint32_t cryptWorker(TransferContext* ctx);

}  // namespace tarnlink
