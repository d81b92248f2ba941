// Dialog units to pixels, and the port path built from the port field's text.

#include <QTest>
#include <climits>
#include <string>

#include "ui/dialog_template.h"
#include "ui/qt/dialog_units.h"
#include "ui/port_path.h"

using namespace tarnlink;

Q_DECLARE_METATYPE(tarnlink::DialogRect)
Q_DECLARE_METATYPE(tarnlink::DialogBaseUnits)
Q_DECLARE_METATYPE(std::string)

class DialogUnitsTest : public QObject {
    Q_OBJECT

  private slots:
    void baseUnits_data() {
        QTest::addColumn<int>("alphabetWidth");
        QTest::addColumn<int>("height");
        QTest::addColumn<DialogBaseUnits>("expected");
        // 52 letters: the average is width / 52, rounded to the nearest integer.
        QTest::newRow("exact 6") << 312 << 13 << DialogBaseUnits{6, 13};
        QTest::newRow("6.48 rounds down") << 337 << 13 << DialogBaseUnits{6, 13};
        QTest::newRow("6.5 rounds up") << 338 << 13 << DialogBaseUnits{7, 13};
        QTest::newRow("large font") << 520 << 24 << DialogBaseUnits{10, 24};
        QTest::newRow("tiny") << 25 << 4 << DialogBaseUnits{0, 4};
    }
    void baseUnits() {
        QFETCH(int, alphabetWidth);
        QFETCH(int, height);
        QFETCH(DialogBaseUnits, expected);
        QCOMPARE(baseUnitsFromMetrics(alphabetWidth, height), expected);
    }

    void mulDivRounds_data() {
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("c");
        QTest::addColumn<int>("expected");
        QTest::newRow("exact") << 8 << 6 << 4 << 12;
        QTest::newRow("half up") << 7 << 6 << 4 << 11;          // 10.5
        QTest::newRow("below half") << 79 << 13 << 8 << 128;    // 128.375
        QTest::newRow("negative half") << -7 << 6 << 4 << -11;  // -10.5 away from zero
        QTest::newRow("negative divisor") << 7 << 6 << -4 << -11;
        QTest::newRow("no overflow") << INT_MAX << 4 << 8 << INT_MAX / 2 + 1;
        QTest::newRow("zero divisor") << 5 << 5 << 0 << 0;
    }
    void mulDivRounds() {
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, c);
        QFETCH(int, expected);
        QCOMPARE(mulDiv(a, b, c), expected);
    }

    void mapRect_data() {
        QTest::addColumn<DialogRect>("units");
        QTest::addColumn<DialogBaseUnits>("base");
        QTest::addColumn<DialogRect>("pixels");
        // The classic 8-point dialog font has base units 6 x 13.
        QTest::newRow("main dialog 6x13")
            << DialogRect{0, 0, 285, 79} << DialogBaseUnits{6, 13} << DialogRect{0, 0, 428, 128};
        QTest::newRow("Load 6x13")
            << DialogRect{224, 28, 50, 14} << DialogBaseUnits{6, 13} << DialogRect{336, 46, 75, 23};
        QTest::newRow("progress 7x16")
            << DialogRect{8, 61, 263, 11} << DialogBaseUnits{7, 16} << DialogRect{14, 122, 460, 22};
        QTest::newRow("about 8x19")
            << DialogRect{0, 0, 235, 55} << DialogBaseUnits{8, 19} << DialogRect{0, 0, 470, 131};
    }
    void mapRect() {
        QFETCH(DialogRect, units);
        QFETCH(DialogBaseUnits, base);
        QFETCH(DialogRect, pixels);
        QCOMPARE(mapDialogRect(units, base), pixels);
    }

    // Every control of both templates lies inside its dialog.
    void templatesFitTheirDialogs() {
        for (const DialogTemplate* tmpl : {&mainDialogTemplate(), &aboutDialogTemplate()}) {
            for (const ControlTemplate& control : tmpl->controls) {
                QVERIFY2(control.rect.x + control.rect.width <= tmpl->width, control.name);
                QVERIFY2(control.rect.y + control.rect.height <= tmpl->height, control.name);
            }
        }
    }

    void portPath_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::string>("path");
        QTest::newRow("empty") << "" << std::string("\\\\.\\COM0");
        QTest::newRow("letter first") << "x1" << std::string("\\\\.\\COM0");
        QTest::newRow("blanks digits letter") << "  12a" << std::string("\\\\.\\COM12");
        QTest::newRow("minus") << "-3" << std::string("\\\\.\\COM-3");
        QTest::newRow("plus") << "+4" << std::string("\\\\.\\COM4");
        QTest::newRow("tab and newline") << "\t\n7" << std::string("\\\\.\\COM7");
        QTest::newRow("blank inside") << "1 2" << std::string("\\\\.\\COM1");
        QTest::newRow("above int32") << "99999999999" << std::string("\\\\.\\COM2147483647");
        QTest::newRow("below int32") << "-99999999999" << std::string("\\\\.\\COM-2147483648");
        QTest::newRow("beyond long")
            << "999999999999999999999999" << std::string("\\\\.\\COM2147483647");
        QTest::newRow("pty") << "/dev/pts/5" << std::string("/dev/pts/5");
        QTest::newRow("blanks before a path") << "  /dev/ttyUSB0" << std::string("/dev/ttyUSB0");
        QTest::newRow("path kept as typed") << "/dev/x y " << std::string("/dev/x y ");
        QTest::newRow("slash after a digit") << "1/dev" << std::string("\\\\.\\COM1");
    }
    void portPath() {
        QFETCH(QString, text);
        QFETCH(std::string, path);
        QCOMPARE(portPathFromText(text.toStdString()), path);
    }
};

QTEST_APPLESS_MAIN(DialogUnitsTest)
#include "dialog_units_test.moc"
