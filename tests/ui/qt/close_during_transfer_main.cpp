// Test program: the dialog program's own start-up (CTarnlinkApp::InitInstance) against an
// in-process simulated target. It types a path and the target's port, clicks a start
// button, and closes the dialog the way the close box does, either while blocks are moving
// ("transfer") or before anything started ("idle"). It prints "closing" just before the
// close; close_test.cpp measures from there to the end of the process.
//   exit 0: the process ended (from inside InitInstance when a transfer ran)
//   2: the transfer never got going; 3: the target did not start; 4: InitInstance came back
//      although a transfer was running

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/sim_target.h"
#include "transfer/transfer_context.h"
#include "ui/resource_ids.h"
#include "ui/qt/tarnlink_app.h"
#include "ui/qt/tarnlink_dlg.h"
#include "ui/transfer_engine.h"

using namespace tarnlink;

int main(int argc, char** argv) {
    const bool duringTransfer = argc < 2 || std::strcmp(argv[1], "idle") != 0;
    CTarnlinkApp app(argc, argv);

    sim::SimOptions options;
    options.delayMs = 5;  // 4000 blocks then take more than a minute
    sim::SimTarget target(options);
    if (!target.start()) {
        return 3;
    }
    QTemporaryDir dir;
    QFile image(dir.filePath("image.bin"));
    if (!dir.isValid() || !image.open(QIODevice::WriteOnly)) {
        return 3;
    }
    image.write(QByteArray(64 * 4000, '\x5a'));
    image.close();

    QElapsedTimer clock;
    clock.start();
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, poll, [&] {
        CTarnlinkDlg* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<CTarnlinkDlg*>(widget); d != nullptr && d->isVisible()) {
                dialog = d;
            }
        }
        if (dialog == nullptr) {
            return;
        }
        if (!duringTransfer) {
            poll->stop();
            std::printf("closing\n");
            std::fflush(stdout);
            dialog->close();
            return;
        }
        if (dialog->busy() == 0) {
            qobject_cast<QLineEdit*>(dialog->GetDlgItem(IDC_IMAGE_PATH))->setText(image.fileName());
            qobject_cast<QLineEdit*>(dialog->GetDlgItem(IDC_COM_PORT))
                ->setText(QString::fromStdString(target.portPath()));
            qobject_cast<QPushButton*>(dialog->GetDlgItem(IDC_LOAD))->click();
            return;
        }
        const uint8_t state = g_transfer.state.load();
        if (state >= STATE_WRITE && state <= STATE_ENABLE) {
            poll->stop();
            std::printf("closing\n");
            std::fflush(stdout);
            dialog->close();
        } else if (clock.elapsed() > 30000) {
            std::printf("no transfer\n");
            std::fflush(stdout);
            std::_Exit(2);
        }
    });
    poll->start(10);

    app.InitInstance();
    std::printf("returned\n");
    std::fflush(stdout);
    return duringTransfer ? 4 : 0;
}
