#include "ui/dialog_notifications.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <algorithm>
#include <utility>

#include "ui/resource_ids.h"
#include "ui/tarnlink_dlg.h"

namespace tarnlink {

namespace {

class DialogNotificationTarget final : public NotificationTarget {
public:
    explicit DialogNotificationTarget(CTarnlinkDlg* dialog) : m_dialog(dialog) {}

    void showStatus(const char* text) override {
        QString copy = QString::fromLocal8Bit(text != nullptr ? text : "");
        runOnUiThread([dialog = m_dialog, copy = std::move(copy)] {
            if (dialog == nullptr) {
                return;
            }
            if (auto* status = qobject_cast<QLabel*>(dialog->GetDlgItem(IDC_STATUS))) {
                status->setText(copy);
            }
        });
    }

    void setProgress(uint8_t position) override {
        runOnUiThread([dialog = m_dialog, position] {
            if (dialog == nullptr) {
                return;
            }
            if (auto* bar = qobject_cast<QProgressBar*>(dialog->GetDlgItem(IDC_PROGRESS))) {
                bar->setRange(0, 100);
                // A position above the range would leave QProgressBar unchanged; it is
                // shown as a full bar instead.
                bar->setValue(std::min<int>(position, 100));
            }
        });
    }

    void postTransferDone(uint8_t result) override {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) {
            return;
        }
        // Queued on the application object, which outlives the dialog; the dialog is
        // looked up only on the UI thread, where it is created and destroyed.
        QMetaObject::invokeMethod(
            app,
            [dialog = m_dialog, result] {
                if (dialog != nullptr) {
                    QCoreApplication::postEvent(dialog, new TransferDoneEvent(result, 0));
                }
            },
            Qt::QueuedConnection);
    }

private:
    // Runs `apply` on the UI thread and returns once it has run there. The UI thread never
    // waits for a worker, so a worker blocked here cannot deadlock it; nested modal loops
    // (the About box, the file dialog) serve the call too.
    template <typename Apply>
    static void runOnUiThread(Apply apply) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) {
            return;
        }
        if (QThread::currentThread() == app->thread()) {
            apply();
        } else {
            QMetaObject::invokeMethod(app, std::move(apply), Qt::BlockingQueuedConnection);
        }
    }

    // Written once on the UI thread before any worker sees this object; workers only copy
    // it (an atomic reference count), and only the UI thread dereferences it.
    const QPointer<CTarnlinkDlg> m_dialog;
};

}  // namespace

std::shared_ptr<NotificationTarget> makeDialogNotificationTarget(CTarnlinkDlg* dialog) {
    return std::make_shared<DialogNotificationTarget>(dialog);
}

}  // namespace tarnlink
