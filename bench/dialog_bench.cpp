// The dialog program's own start-up (CTarnlinkApp::InitInstance, the real CTarnlinkDlg as the
// notification target) driving one download: it fills the image path and the port, clicks
// "Load Image" and times the click to WM_TRANSFER_DONE. Run it offscreen:
//
//   QT_QPA_PLATFORM=offscreen tarnlink-bench-dialog IMAGE PORT
//
// Prints `dialog dialog_s=<seconds> cpu_s=<user+sys> result=<NAME>` and the status line.
//   exit 0: the download completed; 1: it ended with another result; 2: no result in time;
//   64: usage

#include <sys/resource.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "transfer/transfer_context.h"
#include "ui/resource_ids.h"
#include "ui/tarnlink_app.h"
#include "ui/tarnlink_dlg.h"

using namespace tarnlink;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto NO_RESULT_AFTER = std::chrono::seconds(300);

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Sees WM_TRANSFER_DONE before the dialog does; stops the clock there and, once the dialog
// has shown the result, reports it and closes the dialog.
class DoneWatch final : public QObject {
  public:
    DoneWatch(CTarnlinkDlg* dialog, Clock::time_point clicked, double cpuAtClick)
        : QObject(dialog), m_dialog(dialog), m_clicked(clicked), m_cpuAtClick(cpuAtClick) {}

    static int exitCode;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_dialog || event->type() != TransferDoneEvent::TYPE) {
            return false;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_clicked).count();
        const double cpu = cpuSeconds() - m_cpuAtClick;
        const unsigned result = static_cast<TransferDoneEvent*>(event)->wParam() & 0xFF;
        QTimer::singleShot(0, m_dialog, [dialog = m_dialog, elapsed, cpu, result] {
            const QString status = qobject_cast<QLabel*>(dialog->GetDlgItem(IDC_STATUS))->text();
            const char* name = transferResultName(result);
            std::printf("dialog dialog_s=%.4f cpu_s=%.4f result=%s\n", elapsed, cpu,
                        *name != '\0' ? name : "UNKNOWN");
            std::printf("status: %s\n", qPrintable(status));
            std::fflush(stdout);
            exitCode = status == QStringLiteral("Download completed successfully") ? 0 : 1;
            dialog->close();
        });
        return false;
    }

  private:
    CTarnlinkDlg* m_dialog;
    Clock::time_point m_clicked;
    double m_cpuAtClick;
};

int DoneWatch::exitCode = 2;

CTarnlinkDlg* visibleDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<CTarnlinkDlg*>(widget); dialog && dialog->isVisible()) {
            return dialog;
        }
    }
    return nullptr;
}

// Once the dialog runs: type, click, start the clock. Retries until the dialog is up.
void startWhenShown(const QString& image, const QString& port) {
    CTarnlinkDlg* dialog = visibleDialog();
    if (dialog == nullptr) {
        QTimer::singleShot(10, qApp, [image, port] { startWhenShown(image, port); });
        return;
    }
    qobject_cast<QLineEdit*>(dialog->GetDlgItem(IDC_IMAGE_PATH))->setText(image);
    qobject_cast<QLineEdit*>(dialog->GetDlgItem(IDC_COM_PORT))->setText(port);
    auto* load = qobject_cast<QPushButton*>(dialog->GetDlgItem(IDC_LOAD));
    const double cpu = cpuSeconds();
    const Clock::time_point clicked = Clock::now();
    dialog->installEventFilter(new DoneWatch(dialog, clicked, cpu));
    load->click();
    QTimer::singleShot(NO_RESULT_AFTER, dialog, [] {
        std::printf("dialog dialog_s=nan cpu_s=nan result=NONE\n");
        std::fflush(stdout);
        std::_Exit(2);  // a transfer may still hold the port; the system releases it
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarnlink-bench-dialog IMAGE PORT\n");
        return 64;
    }
    CTarnlinkApp app(argc, argv);
    const QString image = QString::fromLocal8Bit(argv[1]);
    const QString port = QString::fromLocal8Bit(argv[2]);
    QTimer::singleShot(0, &app, [image, port] { startWhenShown(image, port); });
    app.InitInstance();  // ends the process itself if a transfer were left running
    return DoneWatch::exitCode;
}
