// The dialog on the real transfer engine against the simulated target, offscreen: what a
// user types and clicks, and what the status line ends with.

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "sim/sim_target.h"
#include "transfer/download_worker.h"
#include "transfer/notifications.h"
#include "transfer/transfer_context.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/dialog_notifications.h"
#include "ui/resource_ids.h"
#include "tests/ui/qt/when_modal.h"
#include "ui/qt/tarnlink_dlg.h"
#include "ui/transfer_engine.h"

using namespace tarnlink;

namespace {

constexpr int TRANSFER_TIMEOUT_MS = 60000;

std::vector<uint8_t> testImage(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 64);
    }
    return bytes;
}

QString writeFile(const QTemporaryDir& dir, const QString& name,
                  const std::vector<uint8_t>& bytes) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly)) {
        qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    return file.fileName();
}

std::vector<uint8_t> readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray all = file.readAll();
    return {all.begin(), all.end()};
}

using test::whenModal;

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<CTarnlinkDlg> m_dlg;
    std::unique_ptr<sim::SimTarget> m_sim;

    template <typename T>
    T* control(int id) const {
        return qobject_cast<T*>(m_dlg->GetDlgItem(id));
    }
    QString status() const { return control<QLabel>(IDC_STATUS)->text(); }

    void startSim(sim::SimOptions options = {}) {
        m_sim = std::make_unique<sim::SimTarget>(std::move(options));
        QVERIFY(m_sim->start());
    }
    void type(const QString& path, const QString& port) {
        auto* pathEdit = control<QLineEdit>(IDC_IMAGE_PATH);
        auto* portEdit = control<QLineEdit>(IDC_COM_PORT);
        pathEdit->clear();
        QTest::keyClicks(pathEdit, path);
        portEdit->clear();
        QTest::keyClicks(portEdit, port);
    }
    void click(int id) { QTest::mouseClick(control<QPushButton>(id), Qt::LeftButton); }
    void verifyIdle() const {
        QCOMPARE(m_dlg->busy(), 0);
        QVERIFY(control<QPushButton>(IDC_LOAD)->isVisible());
        QVERIFY(control<QPushButton>(IDC_CRYPT)->isVisible());
        QVERIFY(!control<QProgressBar>(IDC_PROGRESS)->isVisible());
        QVERIFY(!transferRunning());
    }
    // Waits until the transfer is past connecting: blocks are moving.
    void waitForBlocks() const {
        QTRY_VERIFY_WITH_TIMEOUT(
            g_transfer.state.load() >= STATE_WRITE && g_transfer.state.load() <= STATE_ENABLE,
            TRANSFER_TIMEOUT_MS);
    }

  private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init() {
        m_dlg = std::make_unique<CTarnlinkDlg>();
        setNotificationTarget(makeDialogNotificationTarget(m_dlg.get()));
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    }
    void cleanup() {
        // A failed test may leave a transfer running: stop it before the next one.
        if (transferRunning()) {
            cancelTransfer();
            QTRY_VERIFY_WITH_TIMEOUT(!transferRunning(), 20000);
        }
        m_dlg.reset();
        m_sim.reset();
    }

    void downloadCompletes() {
        startSim();
        const std::vector<uint8_t> image = testImage(64 * 20 + 5);
        type(writeFile(m_dir, "image.bin", image), QString::fromStdString(m_sim->portPath()));
        click(IDC_LOAD);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QString("Download completed successfully"),
                                  TRANSFER_TIMEOUT_MS);
        verifyIdle();
        const std::vector<uint8_t> flash = m_sim->flash();
        QVERIFY(flash.size() >= image.size());
        QVERIFY(std::equal(image.begin(), image.end(), flash.begin()));
    }

    void cryptCompletes() {
        const std::vector<uint8_t> plain = testImage(64 * 12);
        sim::SimOptions options;
        options.flashIn = writeFile(m_dir, "flash.bin", plain).toStdString();
        startSim(options);
        const QString output = m_dir.filePath("crypt.bin");
        type(output, QString::fromStdString(m_sim->portPath()));
        click(IDC_CRYPT);
        QCOMPARE(m_dlg->busy(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QString("Crypto uploaded successfully."),
                                  TRANSFER_TIMEOUT_MS);
        verifyIdle();
        QCOMPARE(readFile(output), sim::SimTarget::encrypt(plain));
    }

    void cancelMidway() {
        sim::SimOptions options;
        options.delayMs = 5;
        startSim(options);
        type(writeFile(m_dir, "large.bin", testImage(64 * 400)),
             QString::fromStdString(m_sim->portPath()));
        click(IDC_LOAD);
        waitForBlocks();
        click(IDC_LOAD);  // now "Cancel"
        QCOMPARE(m_dlg->busy(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QString("Download canceled"), 20000);
        verifyIdle();
    }

    void missingPort_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("download");
        QTest::newRow("no such device, load") << "/dev/tarnlink-no-such-port" << true;
        QTest::newRow("no such device, crypt") << "/dev/tarnlink-no-such-port" << false;
        QTest::newRow("COM0") << "x1" << true;
    }
    void missingPort() {
        QFETCH(QString, port);
        QFETCH(bool, download);
        type(writeFile(m_dir, "small.bin", testImage(64)), port);
        click(download ? IDC_LOAD : IDC_CRYPT);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QString("SERIALPORT_ERROR"), 10000);
        verifyIdle();
    }

    // A transfer started before the About box goes on while it is open and ends there.
    void transferGoesOnWhileAboutIsOpen() {
        sim::SimOptions options;
        options.delayMs = 2;
        startSim(options);
        type(writeFile(m_dir, "image.bin", testImage(64 * 60)),
             QString::fromStdString(m_sim->portPath()));
        click(IDC_LOAD);
        waitForBlocks();
        bool endedWhileOpen = false;
        whenModal([&](QWidget* about) {
            QVERIFY(qobject_cast<CAboutDlg*>(about) != nullptr);
            QTRY_COMPARE_WITH_TIMEOUT(status(), QString("Download completed successfully"),
                                      TRANSFER_TIMEOUT_MS);
            endedWhileOpen = QApplication::activeModalWidget() == about;
            QTest::keyClick(about, Qt::Key_Escape);
        });
        m_dlg->OnSysCommand(IDM_ABOUTBOX, 0);
        QVERIFY(endedWhileOpen);
        verifyIdle();
    }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
