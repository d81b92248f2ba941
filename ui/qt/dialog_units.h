#pragma once
// Dialog units to pixels, the way the classic dialog manager does it: a horizontal unit is
// a quarter of the dialog font's average character width, a vertical unit an eighth of its
// height, so a template keeps its proportions at every font size and resolution.

#include "ui/dialog_template.h"

class QFont;

namespace tarnlink {

/// The font's base units in pixels: average character width and character height.
struct DialogBaseUnits {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const DialogBaseUnits&, const DialogBaseUnits&) = default;
};

/// Base units from the pixel width of "A..Za..z" (52 letters) and the font height:
/// cx = (width / 26 + 1) / 2, the average over 52 rounded to the nearest integer.
DialogBaseUnits baseUnitsFromMetrics(int alphabetWidth, int fontHeight);

/// Base units of `font` on the default screen. UI thread (needs the GUI application).
DialogBaseUnits baseUnitsOf(const QFont& font);

/// a * b / c rounded half away from zero, as the platform's MulDiv; 0 when c is 0.
int mulDiv(int a, int b, int c);

/// Maps `units` to pixels: x and width by cx / 4, y and height by cy / 8, each rounded.
DialogRect mapDialogRect(const DialogRect& units, DialogBaseUnits base);

}  // namespace tarnlink
