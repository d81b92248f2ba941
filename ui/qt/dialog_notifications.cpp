#include "ui/qt/dialog_notifications.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "ui/resource_ids.h"
#include "ui/qt/tarnlink_dlg.h"

namespace tarnlink {

namespace {

// Lets a worker wait until the UI thread has run its call. A plain mutex and condition
// variable rather than a blocking queued connection: the waiting is then visible to the
// thread sanitizer.
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

struct PendingCall {
    std::function<void()> apply;
    std::shared_ptr<Completion> completion;  ///< null: nobody waits
};

// The calls of every thread on their way to the UI thread, in the order they came. The
// queue is shared by the relay object that runs them and by every target that posts to it,
// so a worker never touches the relay itself after it is gone: the relay goes (with the
// application) only under the queue's lock, and a post checks for it under the same lock.
class RelayQueue {
  public:
    static constexpr QEvent::Type WAKE = static_cast<QEvent::Type>(QEvent::User + 0x100);

    explicit RelayQueue(QObject* relay) : m_relay(relay) {}

    // The posted event only wakes the relay and carries nothing, so no memory passes
    // between threads through Qt's (uninstrumented) event queue. Once the relay is gone a
    // call is dropped, and a caller waiting for it is let go at once.
    void post(PendingCall call) {
        {
            std::lock_guard lock(m_mutex);
            if (m_relay != nullptr) {
                m_pending.push_back(std::move(call));
                QCoreApplication::postEvent(m_relay, new QEvent(WAKE));
                return;
            }
        }
        if (call.completion) {
            call.completion->signal();
        }
    }

    // UI thread: every wake drains the whole queue; a later wake may find it empty.
    void runPending() {
        for (;;) {
            PendingCall call;
            {
                std::lock_guard lock(m_mutex);
                if (m_pending.empty()) {
                    return;
                }
                call = std::move(m_pending.front());
                m_pending.pop_front();
            }
            call.apply();
            if (call.completion) {
                call.completion->signal();
            }
        }
    }

    // UI thread, as the relay goes: calls that never ran must not leave their workers
    // waiting, and nothing may be posted to it any more.
    void close() {
        std::deque<PendingCall> unrun;
        {
            std::lock_guard lock(m_mutex);
            m_relay = nullptr;
            unrun.swap(m_pending);
        }
        for (PendingCall& call : unrun) {
            if (call.completion) {
                call.completion->signal();
            }
        }
    }

  private:
    std::mutex m_mutex;
    QObject* m_relay;  // null once the relay is gone
    std::deque<PendingCall> m_pending;
};

// Runs the queued calls on the UI thread. A child of the application object: it lives as
// long as the application, longer than any dialog.
class NotificationRelay final : public QObject {
  public:
    explicit NotificationRelay(QObject* parent)
        : QObject(parent), m_queue(std::make_shared<RelayQueue>(this)) {
        setObjectName(QStringLiteral("tarnlinkNotificationRelay"));
    }
    ~NotificationRelay() override { m_queue->close(); }

    const std::shared_ptr<RelayQueue>& queue() const { return m_queue; }

  protected:
    void customEvent(QEvent* /*event*/) override { m_queue->runPending(); }

  private:
    const std::shared_ptr<RelayQueue> m_queue;
};

std::shared_ptr<RelayQueue> relayOfApplication() {
    static QPointer<NotificationRelay> relay;  // UI thread only
    if (relay == nullptr && QCoreApplication::instance() != nullptr) {
        relay = new NotificationRelay(QCoreApplication::instance());
    }
    return relay != nullptr ? relay->queue() : nullptr;
}

class DialogNotificationTarget final : public NotificationTarget {
  public:
    explicit DialogNotificationTarget(CTarnlinkDlg* dialog)
        : m_owner(dialog),
          m_dialog(dialog),
          m_relay(relayOfApplication()),
          m_uiThread(QThread::currentThread()) {}

    bool belongsTo(const CTarnlinkDlg* dialog) const { return m_owner == dialog; }

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
        m_relay->post({[dialog = m_dialog, result] {
                           if (dialog != nullptr) {
                               TransferDoneEvent done(result, 0);
                               QCoreApplication::sendEvent(dialog, &done);
                           }
                       },
                       nullptr});
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
        m_relay->post({std::move(apply), completion});
        completion->wait();
    }

    // All are written once on the UI thread before any worker sees this object. Workers
    // only copy the dialog's weak reference (an atomic count); only the UI thread looks
    // through it, and the dialog is destroyed only there. m_owner is only compared.
    const CTarnlinkDlg* const m_owner;
    const QPointer<CTarnlinkDlg> m_dialog;
    const std::shared_ptr<RelayQueue> m_relay;
    QThread* const m_uiThread;
};

}  // namespace

std::shared_ptr<NotificationTarget> makeDialogNotificationTarget(CTarnlinkDlg* dialog) {
    return std::make_shared<DialogNotificationTarget>(dialog);
}

void clearDialogNotificationTarget(const CTarnlinkDlg* dialog) {
    const std::shared_ptr<NotificationTarget> target = notificationTarget();
    const auto* own = dynamic_cast<const DialogNotificationTarget*>(target.get());
    if (own != nullptr && own->belongsTo(dialog)) {
        clearNotificationTarget(target.get());
    }
}

}  // namespace tarnlink
