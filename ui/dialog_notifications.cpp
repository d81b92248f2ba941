#include "ui/dialog_notifications.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

#include "ui/resource_ids.h"
#include "ui/tarnlink_dlg.h"

namespace tarnlink {

namespace {

// Lets a worker wait until the UI thread has run its call. A plain mutex and condition
// variable rather than a blocking queued connection: the waiting is then visible to the
// thread sanitizer, and the worker touches nothing of the call after it is woken.
class Completion {
  public:
    void signal() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_done; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
};

// One call for the UI thread. It is deleted there, after it has run, and wakes its
// waiting worker then; also when the application drops it without running it.
class NotificationEvent final : public QEvent {
  public:
    static constexpr QEvent::Type TYPE = static_cast<QEvent::Type>(QEvent::User + 0x100);

    NotificationEvent(std::function<void()> apply, std::shared_ptr<Completion> completion)
        : QEvent(TYPE), m_apply(std::move(apply)), m_completion(std::move(completion)) {}
    ~NotificationEvent() override {
        if (m_completion) {
            m_completion->signal();
        }
    }
    void run() { m_apply(); }

  private:
    std::function<void()> m_apply;
    std::shared_ptr<Completion> m_completion;
};

// Receives the calls on the UI thread. A child of the application object: it lives as long
// as the application, longer than any dialog.
class NotificationRelay final : public QObject {
  public:
    using QObject::QObject;
    bool event(QEvent* event) override {
        if (event->type() == NotificationEvent::TYPE) {
            static_cast<NotificationEvent*>(event)->run();
            return true;
        }
        return QObject::event(event);
    }
};

NotificationRelay* relayOfApplication() {
    static QPointer<NotificationRelay> relay;  // UI thread only
    if (relay == nullptr && QCoreApplication::instance() != nullptr) {
        relay = new NotificationRelay(QCoreApplication::instance());
    }
    return relay.data();
}

class DialogNotificationTarget final : public NotificationTarget {
  public:
    explicit DialogNotificationTarget(CTarnlinkDlg* dialog)
        : m_dialog(dialog), m_relay(relayOfApplication()), m_uiThread(QThread::currentThread()) {}

    void showStatus(const char* text) override {
        QString copy = QString::fromLocal8Bit(text != nullptr ? text : "");
        applyAndWait([dialog = m_dialog, copy = std::move(copy)] {
            if (dialog == nullptr) {
                return;
            }
            if (auto* status = qobject_cast<QLabel*>(dialog->GetDlgItem(IDC_STATUS))) {
                status->setText(copy);
            }
        });
    }

    void setProgress(uint8_t position) override {
        applyAndWait([dialog = m_dialog, position] {
            if (dialog == nullptr) {
                return;
            }
            if (auto* bar = qobject_cast<QProgressBar*>(dialog->GetDlgItem(IDC_PROGRESS))) {
                bar->setRange(0, 100);
                // QProgressBar ignores a value above its range; such a position is shown as
                // a full bar.
                bar->setValue(std::min<int>(position, 100));
            }
        });
    }

    void postTransferDone(uint8_t result) override {
        if (m_relay == nullptr) {
            return;
        }
        // Queued also on the UI thread: a start that fails reports before it returns, and
        // the dialog must see the result only after its start handler has finished.
        QCoreApplication::postEvent(m_relay, new NotificationEvent(
                                                 [dialog = m_dialog, result] {
                                                     if (dialog != nullptr) {
                                                         TransferDoneEvent done(result, 0);
                                                         QCoreApplication::sendEvent(dialog, &done);
                                                     }
                                                 },
                                                 nullptr));
    }

  private:
    // Runs `apply` on the UI thread and returns once it has run there. The UI thread never
    // waits for a worker, so this cannot deadlock; nested modal loops (the About box, the
    // file dialog) serve the call too.
    void applyAndWait(std::function<void()> apply) {
        if (m_relay == nullptr) {
            return;
        }
        if (QThread::currentThread() == m_uiThread) {
            apply();
            return;
        }
        auto completion = std::make_shared<Completion>();
        QCoreApplication::postEvent(m_relay, new NotificationEvent(std::move(apply), completion));
        completion->wait();
    }

    // All three are written once on the UI thread before any worker sees this object. Workers
    // only copy the dialog's weak reference (an atomic count); only the UI thread looks
    // through it, and the dialog is destroyed only there.
    const QPointer<CTarnlinkDlg> m_dialog;
    NotificationRelay* const m_relay;
    QThread* const m_uiThread;
};

}  // namespace

std::shared_ptr<NotificationTarget> makeDialogNotificationTarget(CTarnlinkDlg* dialog) {
    return std::make_shared<DialogNotificationTarget>(dialog);
}

}  // namespace tarnlink
