#pragma once
// Dialog units to pixels, the way the classic dialog manager does it: a horizontal unit is
// a quarter of the dialog font's average character width, a vertical unit an eighth of its
// height, so a template keeps its proportions at every font size and resolution.

class QFont;

namespace tarnlink {

/// A rectangle or a size in dialog units (x, y, width, height), or in pixels after mapping.
struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const DialogRect&, const DialogRect&) = default;
};

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
