// Paints the program icon (the shapes of tarnlink.svg, on the same 32 x 32 grid) into the
// PNG sizes the desktop wants. Run by hand when the picture changes:
//   QT_QPA_PLATFORM=offscreen build/ui/qt/tarnlink_render_icons ui/icons
// There is no SVG renderer among the build's packages, hence this second drawing.

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <cstdio>

namespace {

void paintIcon(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc9, 0xa2, 0x27));
    for (int y : {6, 11, 16}) {
        p.drawRoundedRect(QRectF(4, y, 3, 2), 0.5, 0.5);
        p.drawRoundedRect(QRectF(25, y, 3, 2), 0.5, 0.5);
    }
    p.setPen(QPen(QColor(0x1a, 0x22, 0x30), 1.0));
    p.setBrush(QColor(0x2e, 0x3b, 0x4e));
    p.drawRoundedRect(QRectF(7, 3, 18, 17), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x8f, 0xa3, 0xbf));
    p.drawEllipse(QPointF(10.5, 6.5), 1.3, 1.3);
    p.setBrush(QColor(0x1a, 0x22, 0x30));
    p.drawRect(QRectF(15, 20, 2, 3.5));

    QPainterPath plug;
    plug.moveTo(5, 23.5);
    plug.lineTo(27, 23.5);
    plug.lineTo(24.5, 30.5);
    plug.lineTo(7.5, 30.5);
    plug.closeSubpath();
    QPen edge(QColor(0x1d, 0x4f, 0x9a), 1.0);
    edge.setJoinStyle(Qt::RoundJoin);
    p.setPen(edge);
    p.setBrush(QColor(0x3b, 0x7d, 0xd8));
    p.drawPath(plug);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (double x : {10.0, 13.0, 16.0, 19.0, 22.0}) {
        p.drawEllipse(QPointF(x, 26), 1, 1);
    }
    for (double x : {11.5, 14.5, 17.5, 20.5}) {
        p.drawEllipse(QPointF(x, 28.6), 1, 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        paintIcon(painter);
        painter.end();
        const QString path = QStringLiteral("%1/tarnlink-%2.png").arg(dir).arg(size);
        if (!image.save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
