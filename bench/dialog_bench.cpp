// The dialog program's own start-up (CTarnlinkApp::InitInstance, the real CTarnlinkDlg as the
// notification target) driving one download: it fills the image path and the port, clicks
// "Load Image" and times the click to WM_TRANSFER_DONE. Run it offscreen:
//
//   QT_QPA_PLATFORM=offscreen tarnlink-bench-dialog IMAGE PORT [--time-notifications]
//
// Prints `dialog dialog_s=<seconds> cpu_s=<user+sys> result=<NAME>` and the status line.
// --time-notifications re-registers the same dialog target behind a wrapper that adds up how
// long the worker waits in showStatus and in setProgress (`notify_n=`, `status_s=`, `progress_s=`).
//   exit 0: the download completed; 1: it ended with another result; 2: no result in time;
//   64: usage

#include <sys/resource.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "transfer/notifications.h"
#include "transfer/transfer_context.h"
#include "ui/qt/dialog_notifications.h"
#include "ui/resource_ids.h"
#include "ui/qt/tarnlink_app.h"
#include "ui/qt/tarnlink_dlg.h"

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

// Passes every call on to the dialog's target and adds up the time the caller waited.
class TimedTarget final : public NotificationTarget {
  public:
    explicit TimedTarget(std::shared_ptr<NotificationTarget> inner) : m_inner(std::move(inner)) {}
    void showStatus(const char* text) override {
        timed(statusNs, [&] { m_inner->showStatus(text); });
    }
    void setProgress(uint8_t position) override {
        timed(progressNs, [&] { m_inner->setProgress(position); });
    }
    void postTransferDone(uint8_t result) override { m_inner->postTransferDone(result); }

    static std::atomic<long> calls;
    static std::atomic<long> statusNs;
    static std::atomic<long> progressNs;

  private:
    template <typename Call>
    void timed(std::atomic<long>& waitedNs, Call call) {
        const auto start = Clock::now();
        call();
        waitedNs +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        ++calls;
    }
    std::shared_ptr<NotificationTarget> m_inner;
};

std::atomic<long> TimedTarget::calls{0};
std::atomic<long> TimedTarget::statusNs{0};
std::atomic<long> TimedTarget::progressNs{0};
bool g_timeNotifications = false;  // UI thread only

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
            std::printf("dialog dialog_s=%.4f cpu_s=%.4f result=%s", elapsed, cpu,
                        *name != '\0' ? name : "UNKNOWN");
            if (g_timeNotifications) {
                std::printf(" notify_n=%ld status_s=%.4f progress_s=%.4f",
                            TimedTarget::calls.load(), double(TimedTarget::statusNs.load()) / 1e9,
                            double(TimedTarget::progressNs.load()) / 1e9);
            }
            std::printf("\n");
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
    if (g_timeNotifications) {
        setNotificationTarget(std::make_shared<TimedTarget>(makeDialogNotificationTarget(dialog)));
    }
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
    g_timeNotifications = argc == 4 && std::strcmp(argv[3], "--time-notifications") == 0;
    if (argc != 3 && !g_timeNotifications) {
        std::fprintf(stderr, "usage: tarnlink-bench-dialog IMAGE PORT [--time-notifications]\n");
        return 64;
    }
    CTarnlinkApp app(argc, argv);
    const QString image = QString::fromLocal8Bit(argv[1]);
    const QString port = QString::fromLocal8Bit(argv[2]);
    QTimer::singleShot(0, &app, [image, port] { startWhenShown(image, port); });
    app.InitInstance();  // ends the process itself if a transfer were left running
    return DoneWatch::exitCode;
}
