#pragma once
// The two dialog templates of the program as data: the controls in template order (which
// is also the tab order), with identifiers, kinds, texts, places in dialog units and initial
// states. The Qt dialog builds itself from them; the Windows resource script states the
// same templates, and its tests compare the two.

#include <span>

namespace tarnlink {

/// A rectangle or a size in dialog units (x, y, width, height), or in pixels after mapping.
struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const DialogRect&, const DialogRect&) = default;
};

enum class ControlKind {
    PushButton,        ///< push button, never a default button
    DefPushButton,     ///< push button, the dialog's default button
    Edit,              ///< single-line edit with a border, scrolls horizontally
    TextLeft,          ///< static text, left-aligned, '&' shown as typed
    TextRightCentred,  ///< static text, right-aligned and vertically centred
    AutoCheckBox,      ///< check box that toggles itself
    ProgressBar,       ///< progress bar 0..100 with a border, no text
    Icon,              ///< static icon showing the program icon
};

struct ControlTemplate {
    int id;            ///< IDC_..., IDOK or IDC_STATIC
    const char* name;  ///< the identifier's name
    ControlKind kind;
    const char* text;
    DialogRect rect;  ///< dialog units
    bool visible;
    bool enabled;
    bool tabStop;
};

struct DialogTemplate {
    int id;  ///< IDD_...
    const char* caption;
    int width;  ///< client size in dialog units
    int height;
    std::span<const ControlTemplate> controls;
};

/// IDD_MAIN and IDD_ABOUTBOX. Static storage.
const DialogTemplate& mainDialogTemplate();
const DialogTemplate& aboutDialogTemplate();

}  // namespace tarnlink
