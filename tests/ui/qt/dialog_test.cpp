// The main dialog and the About box, offscreen, on an engine that records the dialog's
// calls (the only stand-in: counting calls needs one). The worker side is played by
// plain threads calling the real notifications.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/qt/when_modal.h"
#include "transfer/notifications.h"
#include "transfer/transfer_context.h"
#include "ui/dialog_template.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/dialog_builder.h"
#include "ui/qt/dialog_notifications.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/tarnlink_dlg.h"
#include "ui/qt/window_menu.h"
#include "ui/resource_ids.h"

using namespace tarnlink;

namespace {

struct EngineCall {
    std::string kind;  // "download", "crypt", "cancel"
    std::string path;
    std::string port;
    int skipResetVector = -1;
};

std::vector<EngineCall> g_calls;

const TransferEngine kRecordingEngine{
    [](const char* image, const char* port, uint8_t skip) {
        g_calls.push_back({"download", image, port, skip});
    },
    [](const char* output, const char* port) {
        g_calls.push_back({"crypt", output, port, -1});
    },
    [] {
        g_calls.push_back({"cancel", "", "", -1});
    },
};

// Runs `action` on a thread of its own, as a worker would, and joins it while the UI
// thread keeps serving events.
void runAsWorker(const std::function<void()>& action) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        action();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
}

using test::whenModal;

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CTarnlinkDlg> m_dlg;

    template <typename T>
    T* control(int id) const {
        auto* widget = qobject_cast<T*>(m_dlg->GetDlgItem(id));
        if (widget == nullptr) {
            qFatal("control %d missing", id);
        }
        return widget;
    }
    QPushButton* load() const { return control<QPushButton>(IDC_LOAD); }
    QPushButton* crypt() const { return control<QPushButton>(IDC_CRYPT); }
    QProgressBar* progress() const { return control<QProgressBar>(IDC_PROGRESS); }
    QLabel* status() const { return control<QLabel>(IDC_STATUS); }
    QLineEdit* path() const { return control<QLineEdit>(IDC_IMAGE_PATH); }
    QLineEdit* port() const { return control<QLineEdit>(IDC_COM_PORT); }

    void verifyIdleLook() const {
        QCOMPARE(m_dlg->busy(), 0);
        QCOMPARE(load()->text(), QString("Load Image"));
        QVERIFY(load()->isVisible());
        QCOMPARE(crypt()->text(), QString("Crypt Image"));
        QVERIFY(crypt()->isVisible());
        QVERIFY(!progress()->isVisible());
    }
    void verifyBusyLook(bool download) const {
        QCOMPARE(m_dlg->busy(), 1);
        QPushButton* started = download ? load() : crypt();
        QPushButton* other = download ? crypt() : load();
        QCOMPARE(started->text(), QString("Cancel"));
        QVERIFY(started->isVisible());
        QVERIFY(!other->isVisible());
        QVERIFY(progress()->isVisible());
    }
    void deliverDone(uint8_t result) {
        notifyResult(result);
        QTRY_COMPARE(m_dlg->busy(), 0);
    }

  private slots:
    void init() {
        g_calls.clear();
        m_dlg = std::make_unique<CTarnlinkDlg>(kRecordingEngine);
        setNotificationTarget(makeDialogNotificationTarget(m_dlg.get()));
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    void cleanup() {
        m_dlg.reset();  // clears the notification target
    }

    void startUpLook() {
        QCOMPARE(m_dlg->windowTitle(), QString("Tarnlink Demo Tool - v1.1"));
        QCOMPARE(port()->text(), QString("1"));
        QCOMPARE(path()->text(), QString());
        QCOMPARE(m_dlg->focusWidget(), load());
        QVERIFY(!progress()->isVisible());
        auto* check = control<QCheckBox>(IDC_NO_RESET_VERIFY);
        QVERIFY(!check->isVisible());
        QVERIFY(!check->isEnabled());
        QVERIFY(!check->isChecked());
        QCOMPARE(status()->text(), QString());
        verifyIdleLook();
        QCOMPARE(progress()->value(), 0);
        QCOMPARE(load()->objectName(), QString("IDC_LOAD"));
        QCOMPARE(control<QLabel>(IDC_STATUS)->objectName(), QString("IDC_STATUS"));
    }

    void windowIsFixedWithoutMaximise() {
        QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
        const Qt::WindowFlags flags = m_dlg->windowFlags();
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
    }

    // Controls sit where the template puts them, in the dialog font's units.
    void controlsPlacedFromDialogUnits() {
        const DialogBaseUnits base = baseUnitsOf(m_dlg->font());
        QVERIFY(base.cx > 0 && base.cy > 0);
        const DialogRect size = mapDialogRect({0, 0, 285, 79}, base);
        QCOMPARE(m_dlg->size(), QSize(size.width, size.height));
        for (const ControlTemplate& c : mainDialogTemplate().controls) {
            if (c.id == IDC_STATIC) {
                continue;
            }
            const DialogRect r = mapDialogRect(c.rect, base);
            QCOMPARE(m_dlg->GetDlgItem(c.id)->geometry(), QRect(r.x, r.y, r.width, r.height));
        }
    }

    // A larger dialog font scales the whole window and keeps its proportions.
    void largerFontKeepsProportions() {
        const QFont original = QApplication::font();
        QFont big = original;
        big.setPointSizeF(original.pointSizeF() * 2);
        QApplication::setFont(big);
        CTarnlinkDlg large(kRecordingEngine);
        QApplication::setFont(original);
        const double small = double(m_dlg->width()) / m_dlg->height();
        const double wide = double(large.width()) / large.height();
        QVERIFY(large.width() > m_dlg->width() * 3 / 2);
        QVERIFY2(qAbs(small - wide) < 0.1 * small, qPrintable(QString::number(wide)));
    }

    void tabOrderFollowsTemplate() {
        const std::vector<QWidget*> expected = {load(),
                                                path(),
                                                control<QPushButton>(IDC_BROWSE),
                                                port(),
                                                control<QCheckBox>(IDC_NO_RESET_VERIFY),
                                                crypt()};
        std::vector<QWidget*> chain;
        QWidget* w = load();
        do {
            if (w->focusPolicy() & Qt::TabFocus) {
                chain.push_back(w);
            }
            w = w->nextInFocusChain();
        } while (w != load());
        QVERIFY(chain == expected);
        // The hidden check box is skipped: Tab from the port field goes to Crypt Image.
        port()->setFocus();
        QTest::keyClick(m_dlg.get(), Qt::Key_Tab);
        QCOMPARE(m_dlg->focusWidget(), crypt());
    }

    void noButtonIsDefault() {
        for (int id : {IDC_LOAD, IDC_BROWSE, IDC_CRYPT}) {
            auto* button = control<QPushButton>(id);
            QVERIFY(!button->isDefault());
            QVERIFY(!button->autoDefault());
        }
    }

    void start_data() {
        QTest::addColumn<bool>("download");
        QTest::newRow("load") << true;
        QTest::newRow("crypt") << false;
    }
    // Each start gives its busy look before the engine call, and WM_TRANSFER_DONE brings
    // back the Idle look with the result's message.
    void start() {
        QFETCH(bool, download);
        path()->setText("/tmp/image.bin");
        port()->setText("3");
        QTest::mouseClick(download ? load() : crypt(), Qt::LeftButton);
        verifyBusyLook(download);
        QCOMPARE(g_calls.size(), size_t{1});
        QCOMPARE(g_calls[0].kind, std::string(download ? "download" : "crypt"));
        QCOMPARE(g_calls[0].path, std::string("/tmp/image.bin"));
        QCOMPARE(g_calls[0].port, std::string("\\\\.\\COM3"));
        if (download) {
            QCOMPARE(g_calls[0].skipResetVector, 0);
        }
        const uint8_t result = download ? SUCCESS : CRYPT_UPLOADED;
        deliverDone(result);
        verifyIdleLook();
        QCOMPARE(status()->text(), QString(transferResultMessage(result)));
    }

    void emptyPath_data() {
        QTest::addColumn<bool>("download");
        QTest::addColumn<QString>("message");
        QTest::newRow("load") << true << "Please specify a file to transmit";
        QTest::newRow("crypt")
            << false << "Please specify path & name of a binary file to receive the crypt.";
    }
    void emptyPath() {
        QFETCH(bool, download);
        QFETCH(QString, message);
        QTest::mouseClick(download ? load() : crypt(), Qt::LeftButton);
        QCOMPARE(status()->text(), message);
        QVERIFY(g_calls.empty());
        verifyIdleLook();
    }

    void pathOfBlanksStarts() {
        path()->setText("   ");
        QTest::mouseClick(load(), Qt::LeftButton);
        QCOMPARE(g_calls.size(), size_t{1});
        QCOMPARE(g_calls[0].path, std::string("   "));
        verifyBusyLook(true);
    }

    void portText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << ""
                               << "\\\\.\\COM0";
        QTest::newRow("letter") << "x1"
                                << "\\\\.\\COM0";
        QTest::newRow("blanks digits letter") << "  12a"
                                              << "\\\\.\\COM12";
        QTest::newRow("minus") << "-3"
                               << "\\\\.\\COM-3";
        QTest::newRow("pty") << "/dev/pts/9"
                             << "/dev/pts/9";
        QTest::newRow("blanks and device") << " /dev/ttyUSB0"
                                           << "/dev/ttyUSB0";
    }
    void portText() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        for (QPushButton* button : {load(), crypt()}) {
            g_calls.clear();
            path()->setText("image.bin");
            port()->setText(text);
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(g_calls.size(), size_t{1});
            QCOMPARE(QString::fromStdString(g_calls[0].port), expected);
            deliverDone(SUCCESS);
        }
    }

    void checkBoxState_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("skip");
        QTest::newRow("unchecked") << int(Qt::Unchecked) << 0;
        QTest::newRow("checked") << int(Qt::Checked) << 1;
        QTest::newRow("indeterminate") << int(Qt::PartiallyChecked) << 1;
    }
    // Nothing shows the box, but its state is read on every Load start.
    void checkBoxState() {
        QFETCH(int, state);
        QFETCH(int, skip);
        auto* check = control<QCheckBox>(IDC_NO_RESET_VERIFY);
        check->setTristate(true);
        check->setCheckState(Qt::CheckState(state));
        path()->setText("image.bin");
        QTest::mouseClick(load(), Qt::LeftButton);
        QCOMPARE(g_calls.size(), size_t{1});
        QCOMPARE(g_calls[0].skipResetVector, skip);
    }

    void cancel_data() { start_data(); }
    // Every click on Cancel is one cancelTransfer and nothing else; only WM_TRANSFER_DONE
    // ends the busy look.
    void cancel() {
        QFETCH(bool, download);
        path()->setText("image.bin");
        QPushButton* button = download ? load() : crypt();
        QTest::mouseClick(button, Qt::LeftButton);
        runAsWorker([] { showStatus("Writing block 3"); });
        for (int click = 1; click <= 3; ++click) {
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(g_calls.size(), size_t(1 + click));
            QCOMPARE(g_calls.back().kind, std::string("cancel"));
            QTest::qWait(20);
            verifyBusyLook(download);
            QCOMPARE(status()->text(), QString("Writing block 3"));
        }
        QTest::qWait(100);
        verifyBusyLook(download);
        deliverDone(DOWNLOAD_CANCELED);
        verifyIdleLook();
        QCOMPARE(status()->text(), QString("Download canceled"));
        QCOMPARE(g_calls.size(), size_t{4});
    }

    void resultWithoutMessage_data() {
        QTest::addColumn<uintptr_t>("wParam");
        QTest::addColumn<QString>("message");
        QTest::newRow("12") << uintptr_t{12} << QString();
        QTest::newRow("200") << uintptr_t{200} << QString();
        QTest::newRow("255") << uintptr_t{255} << QString();
        QTest::newRow("11") << uintptr_t{11} << QString("Crypto uploaded successfully.");
        QTest::newRow("upper bits ignored") << uintptr_t{0x103} << QString("Bad image file");
    }
    void resultWithoutMessage() {
        QFETCH(uintptr_t, wParam);
        QFETCH(QString, message);
        path()->setText("image.bin");
        QTest::mouseClick(load(), Qt::LeftButton);
        runAsWorker([] { showStatus("Verifying block 1"); });
        QCoreApplication::postEvent(m_dlg.get(), new TransferDoneEvent(wParam, 0));
        QTRY_COMPARE(m_dlg->busy(), 0);
        verifyIdleLook();
        QCOMPARE(status()->text(), message);
    }

    void doneInIdleIsApplied() {
        status()->setText("something");
        notifyResult(TARGET_TIMEOUT);
        QTRY_COMPARE(status()->text(), QString("Timeout waiting for response from target"));
        verifyIdleLook();
    }

    // A worker's showStatus and setProgress return only once the UI thread has applied them.
    void workerCallsWaitForTheUiThread() {
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            char text[32];
            std::strcpy(text, "Connecting");
            showStatus(text);
            std::strcpy(text, "XXXXXXXXXX");  // the caller reuses its buffer at once
            setProgress(57);
            returned = true;
        });
        QTest::qSleep(150);  // no events served: the worker must still be waiting
        QVERIFY(!returned.load());
        QTRY_VERIFY(returned.load());
        worker.join();
        QCOMPARE(status()->text(), QString("Connecting"));
        QCOMPARE(progress()->value(), 57);
    }

    void progressPositions_data() {
        QTest::addColumn<unsigned>("position");
        QTest::addColumn<int>("shown");
        QTest::newRow("0") << 0u << 0;
        QTest::newRow("100") << 100u << 100;
        QTest::newRow("above 100 shows full") << 150u << 100;
        QTest::newRow("300 counts as 44") << 300u << 44;
        QTest::newRow("256 counts as 0") << 256u << 0;
    }
    void progressPositions() {
        QFETCH(unsigned, position);
        QFETCH(int, shown);
        progress()->setRange(0, 10);
        progress()->setValue(7);
        runAsWorker([position] { setProgress(position); });
        QCOMPARE(progress()->minimum(), 0);
        QCOMPARE(progress()->maximum(), 100);
        QCOMPARE(progress()->value(), shown);
    }

    void hiddenBarKeepsPosition() {
        path()->setText("image.bin");
        QTest::mouseClick(load(), Qt::LeftButton);
        runAsWorker([] { setProgress(40); });
        deliverDone(SUCCESS);
        QVERIFY(!progress()->isVisible());
        QCOMPARE(progress()->value(), 40);
        QTest::mouseClick(crypt(), Qt::LeftButton);
        QVERIFY(progress()->isVisible());
        QCOMPARE(progress()->value(), 40);
    }

    // A target outliving its dialog does nothing, from any thread, and does not block its
    // caller (runAsWorker fails when the calls do not return).
    void targetOutlivesDialog() {
        std::shared_ptr<NotificationTarget> target = makeDialogNotificationTarget(m_dlg.get());
        m_dlg.reset();
        runAsWorker([&] {
            target->showStatus("late");
            target->setProgress(10);
            target->postTransferDone(SUCCESS);
        });
        target->showStatus("late on the UI thread");
        QTest::qWait(50);  // the queued result finds no dialog
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    // A window that goes clears only its own registration: a target registered by
    // another window (or by anything else) stays.
    void closingADialogClearsOnlyItsOwnTarget() {
        struct Counter : NotificationTarget {
            void showStatus(const char*) override { ++shown; }
            void setProgress(uint8_t) override {}
            void postTransferDone(uint8_t) override {}
            std::atomic<int> shown{0};
        };
        auto other = std::make_shared<Counter>();
        setNotificationTarget(other);
        std::make_unique<CTarnlinkDlg>(kRecordingEngine).reset();
        m_dlg.reset();
        QCOMPARE(notificationTarget(), std::shared_ptr<NotificationTarget>(other));
        runAsWorker([] { showStatus("still heard"); });
        QCOMPARE(other->shown.load(), 1);

        m_dlg = std::make_unique<CTarnlinkDlg>(kRecordingEngine);
        const std::shared_ptr<NotificationTarget> own = makeDialogNotificationTarget(m_dlg.get());
        setNotificationTarget(own);
        std::make_unique<CTarnlinkDlg>(kRecordingEngine).reset();
        QCOMPARE(notificationTarget(), own);
        m_dlg.reset();
        QCOMPARE(notificationTarget(), std::shared_ptr<NotificationTarget>());
    }

    // The relay that carries the calls to the UI thread goes (as it does with the
    // application) while a worker still holds the dialog's target: the worker's calls
    // return at once and do nothing, and a target made afterwards works again.
    void relayGoneWhileAWorkerStillCalls() {
        QObject* relay = qApp->findChild<QObject*>(QStringLiteral("tarnlinkNotificationRelay"));
        QVERIFY(relay != nullptr);
        status()->setText("before");
        delete relay;
        runAsWorker([] {
            showStatus("after the relay");
            setProgress(30);
            notifyResult(SUCCESS);
        });
        QTest::qWait(50);
        QCOMPARE(status()->text(), QString("before"));

        setNotificationTarget(makeDialogNotificationTarget(m_dlg.get()));
        runAsWorker([] { showStatus("new relay"); });
        QCOMPARE(status()->text(), QString("new relay"));
    }

    void keys_data() {
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<size_t>("calls");
        QTest::newRow("Escape") << IDC_LOAD << int(Qt::Key_Escape) << true << size_t{0};
        QTest::newRow("Enter in path")
            << IDC_IMAGE_PATH << int(Qt::Key_Return) << true << size_t{0};
        QTest::newRow("keypad Enter in port")
            << IDC_COM_PORT << int(Qt::Key_Enter) << true << size_t{0};
        QTest::newRow("Enter on Load clicks it")
            << IDC_LOAD << int(Qt::Key_Return) << false << size_t{1};
        QTest::newRow("Enter on Crypt clicks it")
            << IDC_CRYPT << int(Qt::Key_Return) << false << size_t{1};
    }
    void keys() {
        QFETCH(int, focus);
        QFETCH(int, key);
        QFETCH(bool, ends);
        QFETCH(size_t, calls);
        path()->setText("image.bin");
        QWidget* target = m_dlg->GetDlgItem(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(!m_dlg->isVisible(), ends);
        QCOMPARE(g_calls.size(), calls);
    }

    void closeBoxEnds() {
        QVERIFY(m_dlg->close());
        QVERIFY(!m_dlg->isVisible());
    }

    void windowMenu() {
        QMenu* menu = m_dlg->systemMenu();
        QVERIFY(menu != nullptr);
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 4);
        QCOMPARE(commandOf(*actions[0]), SC_MINIMIZE);
        QCOMPARE(commandOf(*actions[1]), SC_CLOSE);
        QVERIFY(actions[2]->isSeparator());
        QCOMPARE(actions[3]->text(), QString("&About Tarnlink..."));
        QCOMPARE(commandOf(*actions[3]), IDM_ABOUTBOX);

        // A right-click on the dialog's background opens it.
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_dlg->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(m_dlg.get(), &event);
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        QTRY_VERIFY(!menu->isVisible());

        // So does the menu key with the focus on a push button (a push button passes the
        // request on to the dialog).
        load()->setFocus();
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(2, 2),
                              load()->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(load(), &key);
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
    }

    void emptyMenuTextAddsNothing() {
        QMenu menu;
        addStandardWindowCommands(menu);
        QCOMPARE(appendMenuItem(menu, QString(), IDM_ABOUTBOX), nullptr);
        QCOMPARE(menu.actions().size(), 2);
        QVERIFY(appendMenuItem(menu, QStringLiteral("&About"), IDM_ABOUTBOX) != nullptr);
        QCOMPARE(menu.actions().size(), 4);
    }

    void aboutBox_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<unsigned>("command");
        QTest::newRow("Enter") << int(Qt::Key_Return) << unsigned(IDM_ABOUTBOX);
        QTest::newRow("Escape") << int(Qt::Key_Escape) << unsigned(IDM_ABOUTBOX);
        QTest::newRow("low bits ignored") << int(Qt::Key_Return) << unsigned(IDM_ABOUTBOX | 0xF);
    }
    void aboutBox() {
        QFETCH(int, key);
        QFETCH(unsigned, command);
        bool seen = false;
        whenModal([&](QWidget* modal) {
            seen = true;
            auto* about = qobject_cast<CAboutDlg*>(modal);
            QVERIFY(about != nullptr);
            QCOMPARE(about->windowTitle(), QString("About Tarnlink"));
            QStringList texts;
            for (auto* label : about->findChildren<QLabel*>()) {
                texts << label->text();
            }
            QVERIFY(texts.contains("Tarnlink Version 1.0"));
            auto* ok = qobject_cast<QPushButton*>(findControl(*about, IDOK));
            QVERIFY(ok != nullptr);
            QCOMPARE(ok->text(), QString("OK"));
            QCOMPARE(about->focusWidget(), ok);
            QTest::keyClick(about, Qt::Key(key));
        });
        QElapsedTimer clock;
        clock.start();
        m_dlg->OnSysCommand(command, 0);  // returns once the box is closed
        QVERIFY(seen);
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(m_dlg->isVisible());
    }

    // The About item of the menu runs the box too.
    void aboutFromMenu() {
        bool seen = false;
        whenModal([&](QWidget* modal) {
            seen = qobject_cast<CAboutDlg*>(modal) != nullptr;
            QTest::keyClick(modal, Qt::Key_Escape);
        });
        m_dlg->systemMenu()->actions().last()->trigger();
        QTRY_VERIFY(seen);
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    }

    // While the About box is open, a worker's status, progress and result still arrive.
    void workerReachesDialogWhileAboutIsOpen() {
        path()->setText("image.bin");
        QTest::mouseClick(load(), Qt::LeftButton);
        std::thread worker;
        whenModal([&](QWidget* modal) {
            worker = std::thread([] {
                showStatus("Verifying block 2");
                setProgress(66);
                notifyResult(SUCCESS);
            });
            QTRY_COMPARE(m_dlg->busy(), 0);
            QTest::keyClick(modal, Qt::Key_Return);
        });
        m_dlg->OnSysCommand(IDM_ABOUTBOX, 0);
        worker.join();
        verifyIdleLook();
        QCOMPARE(status()->text(), QString("Download completed successfully"));
        QCOMPARE(progress()->value(), 66);
    }

    void browse_data() {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("name");
        QTest::newRow("cancel") << false << "image.bin";
        QTest::newRow("existing file") << true << "image.bin";
        QTest::newRow("new file") << true << "crypt-out.bin";
    }
    void browse() {
        QFETCH(bool, confirm);
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile existing(dir.filePath("image.bin"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        path()->setText("typed before");
        QStringList filters;
        whenModal([&](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            QVERIFY(files != nullptr);
            filters = files->nameFilters();
            QCOMPARE(files->selectedNameFilter(), QString("Binary (*.bin)"));
            if (!confirm) {
                files->reject();
                return;
            }
            // Typed into the name field, as a user does; the dialog reads its directory on a
            // thread of its own and may refuse an accept while that runs, so try again.
            const QString chosen = dir.filePath(name);
            auto* retry = new QTimer(files);
            QObject::connect(retry, &QTimer::timeout, files, [files, chosen] {
                if (auto* nameEdit = files->findChild<QLineEdit*>("fileNameEdit")) {
                    nameEdit->setText(chosen);
                }
                static_cast<QDialog*>(files)->accept();  // public in QDialog
            });
            retry->start(20);
        });
        QTest::mouseClick(control<QPushButton>(IDC_BROWSE), Qt::LeftButton);
        QCOMPARE(filters, QStringList({"Binary (*.bin)", "All Files (*)"}));
        QCOMPARE(path()->text(), confirm ? dir.filePath(name) : QString("typed before"));
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
