#include "ui/transfer_engine.h"

#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"
#include "ui/tarnlink_dlg.h"

namespace tarnlink {

const TransferEngine& realTransferEngine() {
    static constexpr TransferEngine engine{&startDownload, &startCryptReadBack, &cancelTransfer};
    return engine;
}

bool transferRunning() {
    return g_transfer.worker.load() || g_transfer.state.load() != STATE_IDLE;
}

// The dialog's plain constructor lives here, beside the engine it uses, so that a test
// which gives the dialog an engine of its own does not need the real one to link.
CTarnlinkDlg::CTarnlinkDlg(QWidget* parent) : CTarnlinkDlg(realTransferEngine(), parent) {}

}  // namespace tarnlink
