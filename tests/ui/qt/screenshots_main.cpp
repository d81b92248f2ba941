// Takes the README's pictures of the main window: idle, and while a download to the
// simulated target is writing blocks. Run under a real X server (not offscreen):
//   xvfb-run -a -s "-screen 0 1024x768x24" build/tests/ui/qt/ui_screenshots docs

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "sim/sim_target.h"
#include "transfer/download_worker.h"
#include "transfer/notifications.h"
#include "transfer/transfer_context.h"
#include "ui/qt/dialog_notifications.h"
#include "ui/resource_ids.h"
#include "ui/qt/tarnlink_dlg.h"
#include "ui/transfer_engine.h"

using namespace tarnlink;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    sim::SimOptions options;
    options.delayMs = 5;
    sim::SimTarget target(options);
    QTemporaryDir dir;
    if (!target.start() || !dir.isValid()) {
        std::fprintf(stderr, "cannot start the simulated target\n");
        return 1;
    }
    const QString image = dir.filePath("firmware.bin");
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly)) {
        return 1;
    }
    file.write(QByteArray(64 * 200, '\x3c'));
    file.close();

    CTarnlinkDlg dialog;
    setNotificationTarget(makeDialogNotificationTarget(&dialog));
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        return 1;
    }
    QTest::qWait(200);
    if (!dialog.grab().save(out.filePath("main-window-idle.png"))) {
        return 1;
    }

    qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_IMAGE_PATH))->setText(image);
    qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_COM_PORT))
        ->setText(QString::fromStdString(target.portPath()));
    qobject_cast<QPushButton*>(dialog.GetDlgItem(IDC_LOAD))->click();
    auto* bar = qobject_cast<QProgressBar*>(dialog.GetDlgItem(IDC_PROGRESS));
    QElapsedTimer clock;
    clock.start();
    while (!(g_transfer.state.load() == STATE_WRITE && bar->value() >= 30)) {
        if (clock.elapsed() > 60000 || dialog.busy() == 0) {
            std::fprintf(stderr, "the download did not get going\n");
            return 1;
        }
        QTest::qWait(5);
    }
    const bool saved = dialog.grab().save(out.filePath("main-window-downloading.png"));
    cancelTransfer();
    while (dialog.busy() != 0) {
        QTest::qWait(10);
    }
    return saved ? 0 : 1;
}
