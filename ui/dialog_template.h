#pragma once
// The two dialog templates of the program as data, and the builder that creates a
// template's controls on a Qt dialog: placed from dialog units, in template order (which is
// also the tab order), with the template's texts, states and identifiers.

#include <span>

#include "ui/qt/dialog_units.h"

class QDialog;
class QWidget;

namespace tarnlink {

enum class ControlKind {
    PushButton,        ///< QPushButton, never a default button
    DefPushButton,     ///< QPushButton, the dialog's default button
    Edit,              ///< QLineEdit with a frame, scrolls horizontally
    TextLeft,          ///< QLabel, left-aligned, '&' shown as typed
    TextRightCentred,  ///< QLabel, right-aligned and vertically centred
    AutoCheckBox,      ///< QCheckBox that toggles itself
    ProgressBar,       ///< QProgressBar 0..100 with a frame, no text
    Icon,              ///< QLabel showing the program icon
};

struct ControlTemplate {
    int id;            ///< IDC_..., IDOK or IDC_STATIC
    const char* name;  ///< objectName: the identifier's name
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

/// Name of the Qt property that holds a control's identifier.
inline constexpr const char* CONTROL_ID_PROPERTY = "controlId";

/// Creates the controls of `tmpl` as children of `dialog`, sets the caption and fixes the
/// client size, all mapped with the base units of the dialog's font. UI thread.
void buildFromTemplate(QDialog& dialog, const DialogTemplate& tmpl);

/// The child of `dialog` with identifier `id`, or null (the first one for IDC_STATIC).
QWidget* findControl(const QWidget& dialog, int id);

}  // namespace tarnlink
