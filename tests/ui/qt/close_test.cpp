// Closing the dialog ends the program at once with status 0, also while a transfer runs.
// The program under test is close_during_transfer_main.cpp, run as a child process.

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include "tests/support/child_environment.h"

class CloseTest : public QObject {
    Q_OBJECT

  private slots:
    void closeEndsTheProgram_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("returns");
        QTest::newRow("during a transfer") << "transfer" << false;
        QTest::newRow("idle") << "idle" << true;
    }
    void closeEndsTheProgram() {
        QFETCH(QString, mode);
        QFETCH(bool, returns);
        QProcess child;
        child.setProcessChannelMode(QProcess::SeparateChannels);
        QProcessEnvironment environment;
        for (const std::string& entry :
             tarnlink::test::childEnvironment({"QT_QPA_PLATFORM=offscreen"})) {
            const size_t equals = entry.find('=');
            environment.insert(QString::fromStdString(entry.substr(0, equals)),
                               QString::fromStdString(entry.substr(equals + 1)));
        }
        child.setProcessEnvironment(environment);
        child.start(QStringLiteral(TARNLINK_CLOSE_PROGRAM), {mode});
        QVERIFY(child.waitForStarted(10000));

        QByteArray out;
        QElapsedTimer sinceClose;
        while (!out.contains("closing\n")) {
            if (!child.waitForReadyRead(60000)) {
                QFAIL(qPrintable("no close: " + out + child.readAllStandardError()));
            }
            out += child.readAllStandardOutput();
        }
        sinceClose.start();
        QVERIFY(child.waitForFinished(20000));
        const qint64 elapsed = sinceClose.elapsed();
        out += child.readAllStandardOutput();

        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        // The transfer would take a minute; ending at once leaves a wide margin for a
        // loaded machine.
        QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed) + " ms"));
        // During a transfer the process ends inside InitInstance; idle, InitInstance returns.
        QCOMPARE(out.contains("returned\n"), returns);
    }
};

QTEST_APPLESS_MAIN(CloseTest)
#include "close_test.moc"
