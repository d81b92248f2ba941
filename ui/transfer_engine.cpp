#include "ui/transfer_engine.h"

#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

const TransferEngine& realTransferEngine() {
    static constexpr TransferEngine engine{&startDownload, &startCryptReadBack, &cancelTransfer};
    return engine;
}

bool transferRunning() {
    return g_transfer.worker.load() || g_transfer.state.load() != STATE_IDLE;
}

}  // namespace tarnlink
