#pragma once
// Builds a dialog template's controls on a Qt dialog: placed from dialog units, in template
// order (which is also the tab order), with the template's texts, states and identifiers.

#include "ui/dialog_template.h"

class QDialog;
class QWidget;

namespace tarnlink {

/// Name of the Qt property that holds a control's identifier.
inline constexpr const char* CONTROL_ID_PROPERTY = "controlId";

/// Creates the controls of `tmpl` as children of `dialog`, sets the caption and fixes the
/// client size, all mapped with the base units of the dialog's font. UI thread.
void buildFromTemplate(QDialog& dialog, const DialogTemplate& tmpl);

/// The child of `dialog` with identifier `id`, or null (the first one for IDC_STATIC).
QWidget* findControl(const QWidget& dialog, int id);

}  // namespace tarnlink
