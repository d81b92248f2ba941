#include "ui/qt/dialog_units.h"

#include <QFont>
#include <QFontMetrics>
#include <cstdint>
#include <cstdlib>

namespace tarnlink {

DialogBaseUnits baseUnitsFromMetrics(int alphabetWidth, int fontHeight) {
    return {(alphabetWidth / 26 + 1) / 2, fontHeight};
}

DialogBaseUnits baseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return baseUnitsFromMetrics(width, metrics.height());
}

int mulDiv(int a, int b, int c) {
    if (c == 0) {
        return 0;
    }
    const int64_t product = int64_t{a} * b;
    const int64_t divisor = c;
    // Round half away from zero on the magnitudes, then give the result its sign.
    const int64_t magnitude = (std::llabs(product) + std::llabs(divisor) / 2) / std::llabs(divisor);
    const int64_t rounded = (product < 0) != (divisor < 0) ? -magnitude : magnitude;
    return static_cast<int>(rounded);
}

DialogRect mapDialogRect(const DialogRect& units, DialogBaseUnits base) {
    return {mulDiv(units.x, base.cx, 4), mulDiv(units.y, base.cy, 8),
            mulDiv(units.width, base.cx, 4), mulDiv(units.height, base.cy, 8)};
}

}  // namespace tarnlink
