#include "ui/qt/app_icon.h"

namespace tarnlink {

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/tarnlink/icons/tarnlink-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

}  // namespace tarnlink
